// The weighted graph type of the segmentation and its eigenvector solvers. A graph holds one
// adjacency list per node; an undirected edge {i, j} of weight w is CEdge(j, w) in list i and
// CEdge(i, w) in list j. The solvers drive ARPACK's symmetric Lanczos routines (dsaupd,
// dseupd) in reverse communication and never form a dense matrix.
#pragma once

#include <vector>

#include "foundation/CMatrix.h"
#include "foundation/CVector.h"

struct CEdge {
  CEdge() : mNode(0), mWeight(0.0f) {}
  CEdge(int aNode, float aWeight) : mNode(aNode), mWeight(aWeight) {}
  // Index of the other end node.
  int mNode;
  float mWeight;
};

using CGraph = std::vector<std::vector<CEdge>>;

// The run's clustering state: the affinity graph between the tracks (node i is track i), the
// current number of regions, and the eigenvalue weights of the last split's embedding.
extern CGraph mGraph;
extern int mRegionNo;
extern CVector<float> mEigVals;

struct CArpackStats;

// Spectral embedding of the sub-graph of the nodes with aValidNodes true (aValidNodes has one
// entry per graph node; valid nodes are numbered 0 ... n-1 in node order, edges to other
// nodes are ignored). Solves (D - W) y = lambda D y through the normalised Laplacian
// I - D^-1/2 W D^-1/2 with regularised degrees D + 0.001. eigVecs becomes (n, m): row k is
// the generalised eigenvector of the (k+2)-th smallest eigenvalue lambda_k (the trivial one is
// skipped); eigVals(k) = 1 / sqrt(lambda_k). m = max(number of lambda < 0.2, aRegionNo), at
// most 99 and at most the converged pairs minus one. Fewer than 101 valid nodes solve for
// n - 1 pairs; fewer than 3 give m = 0. Problems of the solver go to the status log. Every edge
// must be held in both its end nodes' lists with the same weight. aStats (optional) receives
// the solver's figures.
void ncut(CGraph& aGraph, CVector<bool>& aValidNodes, CMatrix<float>& eigVecs,
          CVector<float>& eigVals, int aRegionNo, CArpackStats* aStats = nullptr);

// Principal eigenvector (largest algebraic eigenvalue) of the weighted adjacency matrix of the
// whole graph, of unit length, sign as the solver gives it. X is resized to the node count; one
// node gives (1), no node an empty vector. Solver problems go to the status log.
void lanczos(CGraph& aGraph, CVector<float>& X);
