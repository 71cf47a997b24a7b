// The pipelined over-relaxation sweeps against the plain sequential sweeps they replace.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "flow/FlowSolver.h"
#include "flow/SmoothnessWeights.h"
#include "foundation/CFilter.h"
#include "foundation/Random.h"
#include "foundation/Simd.h"

namespace {

float randomIn(float aLow, float aHigh, CRandom& aRandom) {
  return aLow + (aHigh - aLow) * (aRandom.next() / static_cast<float>(CRandom::kMax));
}

// The smoothness weights by rows, written out plainly: per component c of
// the flow plus increment, aResultX(x, y) += (c(x + 1, y) - c(x, y))^2 + (mean of the two
// y-derivatives)^2 and aResultY(x, y) += (mean of the two x-derivatives)^2 + (c(x, y + 1) -
// c(x, y))^2 (central differences, mirrored borders), plus aEdgeWeight e^2, then
// 1 / sqrt(s + 1e-6) in double.
void diffusivityByRows(const CTensor<float>& aFlow, const CTensor<float>& aIncrement,
                       CMatrix<float>& aResultX, CMatrix<float>& aResultY,
                       const CMatrix<float>* aEdgeMap, float aEdgeWeight) {
  const int X = aFlow.xSize(), Y = aFlow.ySize();
  aResultX.fill(0.0f);
  aResultY.fill(0.0f);
  const CDerivative<float> aDerivative(3);
  CMatrix<float> c(X, Y), aGrad(X, Y);
  for (int k = 0; k < 2; k++) {
    for (int y = 0; y < Y; y++)
      for (int x = 0; x < X; x++) c(x, y) = aFlow(x, y, k) + aIncrement(x, y, k);
    NFilter::filter(c, aGrad, 1, aDerivative);
    for (int y = 0; y < Y; y++)
      for (int x = 0; x + 1 < X; x++) {
        const float aDiff = c(x + 1, y) - c(x, y), aMean = 0.5f * (aGrad(x, y) + aGrad(x + 1, y));
        aResultX(x, y) += aDiff * aDiff + aMean * aMean;
      }
    NFilter::filter(c, aGrad, aDerivative, 1);
    for (int y = 0; y + 1 < Y; y++)
      for (int x = 0; x < X; x++) {
        const float aDiff = c(x, y + 1) - c(x, y), aMean = 0.5f * (aGrad(x, y) + aGrad(x, y + 1));
        aResultY(x, y) += aMean * aMean + aDiff * aDiff;
      }
  }
  for (int i = 0; i < X * Y; i++) {
    if (aEdgeMap != nullptr) {
      const float e = (*aEdgeMap)[i];
      aResultX[i] += aEdgeWeight * e * e;
      aResultY[i] += aEdgeWeight * e * e;
    }
    aResultX[i] = static_cast<float>(1.0 / std::sqrt(static_cast<double>(aResultX[i]) + 1e-6));
    aResultY[i] = static_cast<float>(1.0 / std::sqrt(static_cast<double>(aResultY[i]) + 1e-6));
  }
}

// One sequential sweep over the existing neighbours only, left, up, right, down.
void plainSweep(CFlowSystem& s, float aOmega) {
  const int X = s.mXSize, Y = s.mYSize;
  for (int y = 0; y < Y; y++)
    for (int x = 0; x < X; x++) {
      const int i = s.index(x, y);
      float aSum = 0, aSum2 = 0;
      auto add = [&](int n, float g) {
        aSum += g * (s.mDU[n] + (s.mU[n] - s.mU[i]));
        aSum2 += g * (s.mDV[n] + (s.mV[n] - s.mV[i]));
      };
      if (x > 0) add(s.index(x - 1, y), s.mGX[s.index(x - 1, y)]);
      if (y > 0) add(s.index(x, y - 1), s.mGY[s.index(x, y - 1)]);
      if (x < X - 1) add(s.index(x + 1, y), s.mGX[i]);
      if (y < Y - 1) add(s.index(x, y + 1), s.mGY[i]);
      const float dv = s.mDV[i];
      const float du =
          (1 - aOmega) * s.mDU[i] + aOmega *
                                        (aSum - s.mR1[i] * (s.mST3[i] * dv + s.mST4[i]) -
                                         s.mR2[i] * (s.mST23[i] * dv + s.mST24[i]) - s.mR3U[i]) /
                                        s.mDenU[i];
      s.mDU[i] = du;
      s.mDV[i] = (1 - aOmega) * dv + aOmega *
                                         (aSum2 - s.mR1[i] * (s.mST3[i] * du + s.mST5[i]) -
                                          s.mR2[i] * (s.mST23[i] * du + s.mST25[i]) - s.mR3V[i]) /
                                         s.mDenV[i];
    }
}

CFlowSystem randomSystem(int X, int Y, CRandom& aRandom) {
  CFlowSystem s;
  s.resize(X, Y);
  for (int y = 0; y < Y; y++)
    for (int x = 0; x < X; x++) {
      const int i = s.index(x, y);
      s.mU[i] = randomIn(-3, 3, aRandom);
      s.mV[i] = randomIn(-3, 3, aRandom);
      s.mGX[i] = x + 1 < X ? randomIn(0.1f, 5, aRandom) : 0;
      s.mGY[i] = y + 1 < Y ? randomIn(0.1f, 5, aRandom) : 0;
      s.mR1[i] = randomIn(0, 1, aRandom);
      s.mR2[i] = randomIn(0, 1, aRandom);
      s.mST3[i] = randomIn(-1, 1, aRandom);
      s.mST4[i] = randomIn(-1, 1, aRandom);
      s.mST5[i] = randomIn(-1, 1, aRandom);
      s.mST23[i] = randomIn(-1, 1, aRandom);
      s.mST24[i] = randomIn(-1, 1, aRandom);
      s.mST25[i] = randomIn(-1, 1, aRandom);
      s.mR3U[i] = randomIn(-0.5f, 0.5f, aRandom);
      s.mR3V[i] = randomIn(-0.5f, 0.5f, aRandom);
      s.mDenU[i] = randomIn(8, 20, aRandom);
      s.mDenV[i] = randomIn(8, 20, aRandom);
    }
  return s;
}

}  // namespace

TEST(FlowSolver, PipelinedSweepsEqualSequentialSweepsBitForBit) {
  CRandom aRandom;
  // Both copies of the vectorised sweep: AVX2 (where the processor has it) and baseline.
  for (bool aAvx2 : {true, false}) {
    allowAvx2(aAvx2);
    for (int aSweeps : {1, 2, 5, 10}) {
      for (const auto& aSize :
           {std::pair<int, int>{1, 1}, {7, 1}, {1, 9}, {13, 11}, {40, 3}, {3, 40}, {37, 29}}) {
        CFlowSystem a = randomSystem(aSize.first, aSize.second, aRandom);
        CFlowSystem b = a;
        sorSweeps(a, aSweeps, 1.85f);
        for (int k = 0; k < aSweeps; k++) plainSweep(b, 1.85f);
        for (int y = 0; y < aSize.second; y++)
          for (int x = 0; x < aSize.first; x++) {
            const int i = a.index(x, y);
            ASSERT_EQ(a.mDU[i], b.mDU[i]) << aSweeps << " sweeps at " << x << "," << y;
            ASSERT_EQ(a.mDV[i], b.mDV[i]) << aSweeps << " sweeps at " << x << "," << y;
          }
      }
    }
  }
  allowAvx2(true);
}

TEST(FlowSolver, PlanesGoToAndFromTheDiagonalLayout) {
  CRandom aRandom;
  // Blocks of eight rows and diagonals move at once (also with AVX2); every pixel must land at
  // its index, times the scale, the guard cells untouched, and come back to its place.
  for (bool aAvx2 : {true, false}) {
    allowAvx2(aAvx2);
    for (const auto& aSize :
         {std::pair<int, int>{1, 1}, {5, 3}, {8, 8}, {9, 17}, {40, 23}, {23, 40}, {67, 16}}) {
      const int X = aSize.first, Y = aSize.second;
      CFlowSystem s;
      s.resize(X, Y);
      std::vector<float> aRows(X * Y), aScale(X * Y), aBack(X * Y, -1.0f);
      for (int i = 0; i < X * Y; i++) {
        aRows[i] = randomIn(-100, 100, aRandom);
        aScale[i] = randomIn(0, 2, aRandom);
      }
      toDiagonals(s, aRows.data(), aScale.data(), s.mDU.data());
      toDiagonals(s, aRows.data(), nullptr, s.mDV.data());
      fromDiagonals(s, s.mDV.data(), aBack.data());
      int aPixels = 0;
      for (int y = 0; y < Y; y++)
        for (int x = 0; x < X; x++) {
          const int i = x + X * y;
          ASSERT_EQ(s.mDU[s.index(x, y)], aRows[i] * aScale[i]) << X << "x" << Y;
          ASSERT_EQ(s.mDV[s.index(x, y)], aRows[i]) << X << "x" << Y;
          ASSERT_EQ(aBack[i], aRows[i]) << X << "x" << Y;
          aPixels += s.mDV[s.index(x, y)] != 0.0f;
        }
      // Everything else, the guard cells, is still 0.
      int aNonZero = 0;
      for (float v : s.mDV) aNonZero += v != 0.0f;
      EXPECT_EQ(aNonZero, aPixels);
    }
  }
  allowAvx2(true);
}

TEST(FlowSolver, SmoothnessWeightsOnDiagonalsEqualThoseByRows) {
  CRandom aRandom;
  // The solver forms the smoothness weights on its own layout, mirrored borders from its guard
  // cells; they must be those by rows, with and without an edge map, also for
  // single rows and columns, and 0 beyond the last column and row.
  std::vector<float> aChU, aChV;
  for (bool aAvx2 : {true, false}) {
    allowAvx2(aAvx2);
    for (const auto& aSize :
         {std::pair<int, int>{1, 1}, {6, 1}, {1, 7}, {2, 2}, {13, 11}, {37, 9}, {9, 37}}) {
      const int X = aSize.first, Y = aSize.second;
      CTensor<float> aFlow(X, Y, 2), aIncrement(X, Y, 2);
      CMatrix<float> aEdges(X, Y), aGX(X, Y), aGY(X, Y);
      for (int i = 0; i < 2 * X * Y; i++) {
        aFlow[i] = randomIn(-4, 4, aRandom);
        aIncrement[i] = randomIn(-0.5f, 0.5f, aRandom);
      }
      for (int i = 0; i < X * Y; i++) aEdges[i] = randomIn(0, 3, aRandom);
      CFlowSystem s;
      s.resize(X, Y);
      toDiagonals(s, aFlow.data(), nullptr, s.mU.data());
      toDiagonals(s, aFlow.data() + X * Y, nullptr, s.mV.data());
      toDiagonals(s, aIncrement.data(), nullptr, s.mDU.data());
      toDiagonals(s, aIncrement.data() + X * Y, nullptr, s.mDV.data());
      for (bool aWithEdges : {false, true}) {
        std::vector<float> aTerm(X * Y), aDiagonalTerm(s.mDU.size());
        for (int i = 0; i < X * Y; i++) aTerm[i] = 0.7f * aEdges[i] * aEdges[i];
        toDiagonals(s, aTerm.data(), nullptr, aDiagonalTerm.data());
        diffusivityByRows(aFlow, aIncrement, aGX, aGY, aWithEdges ? &aEdges : nullptr, 0.7f);
        diagonalDiffusivity(s, aWithEdges ? aDiagonalTerm.data() : nullptr, aChU, aChV);
        for (int y = 0; y < Y; y++)
          for (int x = 0; x < X; x++) {
            const int p = s.index(x, y);
            ASSERT_EQ(s.mGX[p], x + 1 < X ? aGX(x, y) : 0.0f)
                << X << "x" << Y << " " << x << "," << y;
            ASSERT_EQ(s.mGY[p], y + 1 < Y ? aGY(x, y) : 0.0f)
                << X << "x" << Y << " " << x << "," << y;
          }
      }
    }
  }
  allowAvx2(true);
}
