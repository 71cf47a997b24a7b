// The weighted graph type of the segmentation and its eigenvector solvers. A graph holds one
// adjacency list per node; an undirected edge {i, j} of weight w is CEdge(j, w) in list i and
// CEdge(i, w) in list j. The solvers drive ARPACK's symmetric Lanczos routines (dsaupd,
// dseupd) in reverse communication and never form a dense matrix.
#pragma once

#include <ostream>
#include <vector>

#include "foundation/CMatrix.h"
#include "foundation/CVector.h"
#include "foundation/Random.h"
#include "spectral/ArpackSolver.h"

struct CEdge {
  CEdge() : mNode(0), mWeight(0.0f) {}
  CEdge(int aNode, float aWeight) : mNode(aNode), mWeight(aWeight) {}
  // Index of the other end node.
  int mNode;
  float mWeight;
};

using CGraph = std::vector<std::vector<CEdge>>;

// The clustering state of a run: the affinity graph between the tracks (node i is track i),
// the current number of regions, the eigenvalue weights of the last split's embedding, and the
// run's random numbers: those of the graph's sampling, the splitting and the k-means (one
// sequence, drawn in that order) and the eigen solver's starting vectors.
struct CClusteringState {
  CGraph mGraph;
  int mRegionNo = 0;
  CVector<float> mEigVals;
  CRandom mRandom;
  CEigenStart mEigenStart;
};

// Spectral embedding of the sub-graph of the nodes with aValidNodes true (aValidNodes has one
// entry per graph node; valid nodes are numbered 0 ... n-1 in node order, edges to other
// nodes are ignored). Solves (D - W) y = lambda D y through the normalised Laplacian
// I - D^-1/2 W D^-1/2 with regularised degrees D + 0.001. eigVecs becomes (n, m): row k is
// the generalised eigenvector of the (k+2)-th smallest eigenvalue lambda_k (the trivial one is
// skipped); eigVals(k) = 1 / sqrt(lambda_k). m = max(number of lambda < 0.2, aRegionNo), at
// most 99 and at most the converged pairs minus one. Fewer than 101 valid nodes solve for
// n - 1 pairs; fewer than 3 give m = 0. The solver starts from the next vector of aEigenStart; its
// problems go to the status log aStatus. Every edge must be held in both its end nodes' lists
// with the same weight. aStats (optional) receives the solver's figures.
void ncut(const CGraph& aGraph, const CVector<bool>& aValidNodes, CMatrix<float>& eigVecs,
          CVector<float>& eigVals, int aRegionNo, CEigenStart& aEigenStart, std::ostream& aStatus,
          CArpackStats* aStats = nullptr);

// Principal eigenvector (largest algebraic eigenvalue) of the weighted adjacency matrix of the
// whole graph, of unit length, sign as the solver gives it. X is resized to the node count; one
// node gives (1), no node an empty vector. The solver starts from the next vector of aEigenStart;
// its problems go to the status log aStatus.
void lanczos(const CGraph& aGraph, CVector<float>& X, CEigenStart& aEigenStart,
             std::ostream& aStatus);
