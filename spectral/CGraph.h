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
