// CDiffusion: nonlinear isotropic diffusion. Edge-stopping diffusivities between neighbouring
// pixels from the joint gradient of a multi-channel image, and one semi-implicit diffusion step
// of a scalar image in additive operator splitting form (unconditionally stable for any step).
//
// Diffusivity maps GX, GY have the image's width and height: GX(x, y) belongs to the edge
// between (x, y) and (x + 1, y), GY(x, y) to the edge between (x, y) and (x, y + 1); the last
// column of GX and the last row of GY belong to no edge.
#pragma once

#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"

// Choice of diffusivity function g(s) of the squared gradient magnitude s (k = 1 / lambda^2).
constexpr int cLinear = 0;            // 1
constexpr int cCharbonnier = 1;       // 1 / sqrt(1 + s k)
constexpr int cPeronaMalikI = 2;      // 1 / (1 + s k)
constexpr int cPeronaMalikII = 3;     // exp(-s k)
constexpr int cWeickert = 4;          // 1 - exp(-3.31488 / (s k)^4) for s > 0, else 1
constexpr int cUnboundedEpsilon = 5;  // (epsilon^2 + s)^p
constexpr int cUnbounded = 6;         // s^p for s > 0, else 0
constexpr int cTV = 7;                // 1 / sqrt(epsilon^2 + s)
constexpr int cNonconvex = 8;         // 1 / (epsilon^2 + s), in float

class CDiffusion {
 public:
  // Defaults: tau 1 in every dimension, lambda 4, epsilon 0.001, p -0.5, diffusivities per edge,
  // total variation diffusivity.
  CDiffusion();

  // g(aValue) for the function aChoice (one of the constants above; any other value gives 1),
  // with aInvLambdaSqr = 1 / lambda^2. Evaluated in double, returned as float.
  float diffusivity(int aChoice, float aValue, float aInvLambdaSqr) const;

  // Diffusivities GX (aResultX) and GY (aResultY) of mDiffFunc from the squared gradient of all
  // channels of aTensor together, evaluated on the staggered grid between pixel pairs. Both maps
  // are overwritten and take aTensor's width and height.
  void isotropicDiffMatrixMultiChannel(const CTensor<float>& aTensor, CMatrix<float>& aResultX,
                                       CMatrix<float>& aResultY) const;

  // One semi-implicit step of size mTau2D on aMatrix (updated in place) with the diffusivities
  // GX, GY, which must have aMatrix's size: aMatrix = 1/2 [(I - 2 tau Ax)^-1 + (I - 2 tau Ay)^-1]
  // aMatrix. With mSmoothing non-zero, GX and GY are per-pixel values averaged onto the edges.
  void isotropicDiffuseSemiImplicit(CMatrix<float>& aMatrix, const CMatrix<float>& GX,
                                    const CMatrix<float>& GY) const;

  float mTau1D;           // not used by these operations
  float mTau2D;           // step size of the 2-D semi-implicit step
  float mTau3D;           // not used by these operations
  float mLambda;          // contrast parameter; the functions receive 1 / lambda^2
  float mEpsilon;         // regularisation of the functions 5, 7 and 8
  float mP;               // exponent of the functions 5 and 6
  int mSmoothing;         // 0: diffusivities per edge; otherwise per pixel
  int mDiffFunc;          // diffusivity function used by isotropicDiffMatrixMultiChannel
  bool mLimitedCondNo;    // not used by these operations
  bool mEnhancedStencil;  // not used by these operations
};
