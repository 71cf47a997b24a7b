// One level of the variational refinement: the linearised data terms (brightness and
// gradient constancy, each normalised by the local gradient), the matching term towards the
// descriptor proposals, and the lagged fixed-point iterations that solve for the flow
// increment with over-relaxation sweeps (the smoothness weights: SmoothnessWeights.cpp).
//
// The per-pixel arithmetic runs in vectorised loops (foundation/Simd.h) whose lanes each do
// one pixel's operations in the scalar order. The file is compiled with -fno-math-errno so
// that the double-precision square roots vectorise; the roots themselves are exact IEEE
// roots either way.
#include "flow/VariationalLevel.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "flow/FlowSolver.h"
#include "flow/RobustWeights.h"
#include "flow/SmoothnessWeights.h"
#include "foundation/CFilter.h"
#include "foundation/Simd.h"

namespace {

// One proposal of a level: its index in the diagonal layout, its diagonal, its confidence,
// the proposed displacement and the level's base flow there.
struct CProposalTerm {
  int mIndex, mDiagonal;
  float mConfidence, mGeoU, mGeoV, mU, mV;
};

// Per-thread working storage, sized once for the finest level of a pyramid and reused from
// level to level and from pair to pair.
struct CLevelWork {
  CFlowSystem mSystem;
  // Motion tensors (times the warp validity) by diagonals; entries 3, 4, 5 of both live in the
  // solver.
  std::vector<float> mDiagST[3], mDiagST2[3];
  // One band's derivatives of one channel and the band's tensor sums, and the row pointers the
  // filters along y read.
  std::vector<float> mDerivatives, mBand;
  std::vector<const float*> mRowTable;
  // The edge map's term by rows.
  std::vector<float> mEdgeRows;
  // The increment by rows.
  std::vector<float> mIncU, mIncV;
  // Matching weight sum, the two flow components for the smoothness weights and the edge
  // map's term, by diagonals.
  std::vector<float> mR3Sum, mChU, mChV, mEdgeTerm;
  // The proposals of the level (pixels with confidence > 0), in the order of the diagonal
  // layout, and the counts by diagonal that sort them.
  std::vector<CProposalTerm> mTerms, mSortedTerms;
  std::vector<int> mDiagonalStart;
};

thread_local CLevelWork tWork;

void fitSize(std::vector<float>& aArray, size_t aCount) {
  if (aArray.size() != aCount) aArray.resize(aCount);
}

// The derivative planes of one channel, in this order.
enum EDerivative { kDz, kDx, kDy, kHxx, kHxy, kHyy, kHxz, kHyz, kDerivatives };
// Rows of a band in which the motion tensors are formed before they go to the diagonal layout:
// two blocks of eight, so that each diagonal receives a whole cache line.
constexpr int kBandRows = 16;
// Reach of the 5-tap derivative: a band's second derivatives along y read this many rows of
// first derivatives above and below it.
constexpr int kReach = 2;

// Adds one channel's brightness and gradient constancy terms at aCount pixels to the twelve
// tensor entries aST (brightness, entries 0 ... 5) and aST2 (gradient); the first channel
// adds them to 0, the last one multiplies the sums by the warp validity aConfidence. aPlanes
// are the channel's derivative planes at the same pixels.
template <bool kFirst, bool kLast>
QUORVIK_KERNEL void accumulateTensors(const float* const* aPlanes, const float* aConfidence,
                                      float* const* aST, float* const* aST2, int aCount) {
  const float* dz = aPlanes[kDz];
  const float* dx = aPlanes[kDx];
  const float* dy = aPlanes[kDy];
  const float* hxx = aPlanes[kHxx];
  const float* hxy = aPlanes[kHxy];
  const float* hyy = aPlanes[kHyy];
  const float* hxz = aPlanes[kHxz];
  const float* hyz = aPlanes[kHyz];
  float* st0 = aST[0];
  float* st1 = aST[1];
  float* st2 = aST[2];
  float* st3 = aST[3];
  float* st4 = aST[4];
  float* st5 = aST[5];
  float* sg0 = aST2[0];
  float* sg1 = aST2[1];
  float* sg2 = aST2[2];
  float* sg3 = aST2[3];
  float* sg4 = aST2[4];
  float* sg5 = aST2[5];
  QUORVIK_IVDEP
  for (int i = 0; i < aCount; i++) {
    // Pixels whose warped sample left the second image have no data term.
    auto last = [&](float aSum) { return kLast ? aSum * aConfidence[i] : aSum; };
    const float n = gradientNorm(dx[i], dy[i]);
    st0[i] = last((kFirst ? 0.0f : st0[i]) + (n * dx[i] * dx[i]));
    st1[i] = last((kFirst ? 0.0f : st1[i]) + (n * dy[i] * dy[i]));
    st2[i] = last((kFirst ? 0.0f : st2[i]) + (n * dz[i] * dz[i]));
    st3[i] = last((kFirst ? 0.0f : st3[i]) + (n * dx[i] * dy[i]));
    st4[i] = last((kFirst ? 0.0f : st4[i]) + (n * dx[i] * dz[i]));
    st5[i] = last((kFirst ? 0.0f : st5[i]) + (n * dy[i] * dz[i]));
    const float nx = gradientNorm(hxx[i], hxy[i]);
    const float ny = gradientNorm(hyy[i], hxy[i]);
    sg0[i] = last((kFirst ? 0.0f : sg0[i]) + (nx * hxx[i] * hxx[i] + ny * hxy[i] * hxy[i]));
    sg1[i] = last((kFirst ? 0.0f : sg1[i]) + (nx * hxy[i] * hxy[i] + ny * hyy[i] * hyy[i]));
    sg2[i] = last((kFirst ? 0.0f : sg2[i]) + (nx * hxz[i] * hxz[i] + ny * hyz[i] * hyz[i]));
    sg3[i] = last((kFirst ? 0.0f : sg3[i]) + ((nx * hxx[i] + ny * hyy[i]) * hxy[i]));
    sg4[i] = last((kFirst ? 0.0f : sg4[i]) + (nx * hxz[i] * hxx[i] + ny * hxy[i] * hyz[i]));
    sg5[i] = last((kFirst ? 0.0f : sg5[i]) + (nx * hxz[i] * hxy[i] + ny * hyz[i] * hyy[i]));
  }
}

template <bool kFirst, bool kLast>
QUORVIK_AVX2 void accumulateTensorsAvx2(const float* const* aPlanes, const float* aConfidence,
                                        float* const* aST, float* const* aST2, int aCount) {
  accumulateTensors<kFirst, kLast>(aPlanes, aConfidence, aST, aST2, aCount);
}

template <bool kFirst, bool kLast>
void accumulateTensorsBase(const float* const* aPlanes, const float* aConfidence, float* const* aST,
                           float* const* aST2, int aCount) {
  accumulateTensors<kFirst, kLast>(aPlanes, aConfidence, aST, aST2, aCount);
}

// Three equal channels (a grey picture as colour): each channel adds the same terms, so they
// are formed once and added three times, as the channel by channel sums would add them.
QUORVIK_KERNEL void accumulateThreeEqual(const float* const* aPlanes, const float* aConfidence,
                                         float* const* aST, float* const* aST2, int aCount) {
  const float* dz = aPlanes[kDz];
  const float* dx = aPlanes[kDx];
  const float* dy = aPlanes[kDy];
  const float* hxx = aPlanes[kHxx];
  const float* hxy = aPlanes[kHxy];
  const float* hyy = aPlanes[kHyy];
  const float* hxz = aPlanes[kHxz];
  const float* hyz = aPlanes[kHyz];
  float* st0 = aST[0];
  float* st1 = aST[1];
  float* st2 = aST[2];
  float* st3 = aST[3];
  float* st4 = aST[4];
  float* st5 = aST[5];
  float* sg0 = aST2[0];
  float* sg1 = aST2[1];
  float* sg2 = aST2[2];
  float* sg3 = aST2[3];
  float* sg4 = aST2[4];
  float* sg5 = aST2[5];
  QUORVIK_IVDEP
  for (int i = 0; i < aCount; i++) {
    // ((0 + t) + t) + t, then times the warp validity.
    auto sum = [&](float t) {
      float aSum = 0.0f + t;
      aSum += t;
      aSum += t;
      return aSum * aConfidence[i];
    };
    const float n = gradientNorm(dx[i], dy[i]);
    st0[i] = sum(n * dx[i] * dx[i]);
    st1[i] = sum(n * dy[i] * dy[i]);
    st2[i] = sum(n * dz[i] * dz[i]);
    st3[i] = sum(n * dx[i] * dy[i]);
    st4[i] = sum(n * dx[i] * dz[i]);
    st5[i] = sum(n * dy[i] * dz[i]);
    const float nx = gradientNorm(hxx[i], hxy[i]);
    const float ny = gradientNorm(hyy[i], hxy[i]);
    sg0[i] = sum(nx * hxx[i] * hxx[i] + ny * hxy[i] * hxy[i]);
    sg1[i] = sum(nx * hxy[i] * hxy[i] + ny * hyy[i] * hyy[i]);
    sg2[i] = sum(nx * hxz[i] * hxz[i] + ny * hyz[i] * hyz[i]);
    sg3[i] = sum((nx * hxx[i] + ny * hyy[i]) * hxy[i]);
    sg4[i] = sum(nx * hxz[i] * hxx[i] + ny * hxy[i] * hyz[i]);
    sg5[i] = sum(nx * hxz[i] * hxy[i] + ny * hyz[i] * hyy[i]);
  }
}

QUORVIK_AVX2 void accumulateThreeEqualAvx2(const float* const* aPlanes, const float* aConfidence,
                                           float* const* aST, float* const* aST2, int aCount) {
  accumulateThreeEqual(aPlanes, aConfidence, aST, aST2, aCount);
}

void accumulateThreeEqualBase(const float* const* aPlanes, const float* aConfidence,
                              float* const* aST, float* const* aST2, int aCount) {
  accumulateThreeEqual(aPlanes, aConfidence, aST, aST2, aCount);
}

// One channel's terms, the first and last channel told apart (a single one is both).
void accumulateChannel(bool aAvx2, bool aFirst, bool aLast, const float* const* aPlanes,
                       const float* aConfidence, float* const* aST, float* const* aST2,
                       int aCount) {
  using CKernel = void (*)(const float* const*, const float*, float* const*, float* const*, int);
  static const CKernel kKernels[2][2][2] = {
      {{accumulateTensorsBase<false, false>, accumulateTensorsBase<false, true>},
       {accumulateTensorsBase<true, false>, accumulateTensorsBase<true, true>}},
      {{accumulateTensorsAvx2<false, false>, accumulateTensorsAvx2<false, true>},
       {accumulateTensorsAvx2<true, false>, accumulateTensorsAvx2<true, true>}}};
  kKernels[aAvx2][aFirst][aLast](aPlanes, aConfidence, aST, aST2, aCount);
}

// The brightness and gradient constancy tensors, summed over the channels (in channel order)
// and multiplied by the warp validity, straight into the diagonal layout. The level is worked
// through band by band of kBandRows rows: a channel's derivatives of the band (the first ones
// with kReach rows more above and below, which the second derivatives along y read, mirrored
// at the picture's border), its terms added to the band's sums, the sums moved to the
// diagonals. All of it stays in cache; every value is the one whole-plane filtering gives.
void motionTensors(const CLevelData& aLevel, CLevelWork& w, CFlowSystem& s) {
  const int aXSize = aLevel.mXSize;
  const int aYSize = aLevel.mYSize;
  const size_t aCount = static_cast<size_t>(aXSize) * aYSize;
  const size_t aBandCount = static_cast<size_t>(kBandRows) * aXSize;
  const size_t aHaloCount = static_cast<size_t>(kBandRows + 2 * kReach) * aXSize;
  fitSize(w.mBand, 12 * aBandCount);
  fitSize(w.mDerivatives, 3 * aHaloCount + 5 * aBandCount);
  w.mRowTable.resize(aYSize);
  float* aDiagonal[12] = {w.mDiagST[0].data(),  w.mDiagST[1].data(),  w.mDiagST[2].data(),
                          s.mST3.data(),        s.mST4.data(),        s.mST5.data(),
                          w.mDiagST2[0].data(), w.mDiagST2[1].data(), w.mDiagST2[2].data(),
                          s.mST23.data(),       s.mST24.data(),       s.mST25.data()};
  float* aBand[12];
  for (int k = 0; k < 12; k++) aBand[k] = w.mBand.data() + k * aBandCount;
  // First derivatives and temporal difference with their extra rows, then the second ones.
  float* aDx = w.mDerivatives.data();
  float* aDy = aDx + aHaloCount;
  float* aDz = aDy + aHaloCount;
  float* aSecond[5];
  for (int k = 0; k < 5; k++) aSecond[k] = aDz + aHaloCount + k * aBandCount;
  const CDerivative<float> aDerivative(5);
  const float** aRows = w.mRowTable.data();
  const bool aAvx2 = useAvx2();
  for (int y0 = 0; y0 < aYSize; y0 += kBandRows) {
    const int aBandRows = std::min(kBandRows, aYSize - y0);
    const int n = aBandRows * aXSize;
    const size_t aStart = static_cast<size_t>(y0) * aXSize;
    const int aFirstRow = std::max(0, y0 - kReach);
    const int aLastRow = std::min(aYSize - 1, y0 + aBandRows - 1 + kReach);
    const int aHaloRows = aLastRow - aFirstRow + 1;
    const size_t aBandInHalo = static_cast<size_t>(y0 - aFirstRow) * aXSize;
    // Without any channel the tensors are 0 (times the validity).
    if (aLevel.mChannels <= 0)
      for (int k = 0; k < 12; k++)
        for (int i = 0; i < n; i++) aBand[k][i] = 0.0f * aLevel.mConfidence[aStart + i];
    // Three equal channels need the derivatives of one.
    const bool aThreeEqual = aLevel.mSameChannels && aLevel.mChannels == 3;
    for (int c = 0; c < (aThreeEqual ? 1 : aLevel.mChannels); c++) {
      const float* aImage = aLevel.mFirst + c * aCount;
      const float* aWarped = aLevel.mWarped + c * aCount;
      const size_t aHaloStart = static_cast<size_t>(aFirstRow) * aXSize;
      NFilter::filterX(aImage + aHaloStart, aDx, aXSize, aHaloRows, aDerivative);
      for (int y = 0; y < aYSize; y++) aRows[y] = aImage + static_cast<size_t>(y) * aXSize;
      NFilter::filterYRows(aRows, aXSize, aYSize, aFirstRow, aHaloRows, aDy, aDerivative);
      for (size_t i = 0; i < static_cast<size_t>(aHaloRows) * aXSize; i++)
        aDz[i] = aWarped[aHaloStart + i] - aImage[aHaloStart + i];
      NFilter::filterX(aDx + aBandInHalo, aSecond[0], aXSize, aBandRows, aDerivative);  // hxx
      NFilter::filterX(aDz + aBandInHalo, aSecond[3], aXSize, aBandRows, aDerivative);  // hxz
      const float* aHalo[3] = {aDx, aDy, aDz};
      float* aAlongY[3] = {aSecond[1], aSecond[2], aSecond[4]};  // hxy, hyy, hyz
      for (int k = 0; k < 3; k++) {
        for (int y = aFirstRow; y <= aLastRow; y++)
          aRows[y] = aHalo[k] + static_cast<size_t>(y - aFirstRow) * aXSize;
        NFilter::filterYRows(aRows, aXSize, aYSize, y0, aBandRows, aAlongY[k], aDerivative);
      }
      const float* aPlanes[kDerivatives] = {aDz + aBandInHalo, aDx + aBandInHalo, aDy + aBandInHalo,
                                            aSecond[0],        aSecond[1],        aSecond[2],
                                            aSecond[3],        aSecond[4]};
      if (aThreeEqual && aAvx2)
        accumulateThreeEqualAvx2(aPlanes, aLevel.mConfidence + aStart, aBand, aBand + 6, n);
      else if (aThreeEqual)
        accumulateThreeEqualBase(aPlanes, aLevel.mConfidence + aStart, aBand, aBand + 6, n);
      else
        accumulateChannel(aAvx2, c == 0, c == aLevel.mChannels - 1, aPlanes,
                          aLevel.mConfidence + aStart, aBand, aBand + 6, n);
    }
    for (int k = 0; k < 12; k++) bandToDiagonals(s, aBand[k], y0, aBandRows, aDiagonal[k]);
  }
}

// Data weights R1, R2 and the diagonals of both equations, pixel by pixel along the diagonals.
QUORVIK_KERNEL void dataWeightsKernel(CFlowSystem& s, const CLevelWork& w, float aDataWeight,
                                      float aGradientWeight) {
  for (int d = 0; d < s.diagonals(); d++) {
    const int c = s.mOffset[d + 1];
    const int aPrev = s.mOffset[d];
    const float* aDU = s.mDU.data() + c;
    const float* aDV = s.mDV.data() + c;
    const float* st0 = w.mDiagST[0].data() + c;
    const float* st1 = w.mDiagST[1].data() + c;
    const float* st2 = w.mDiagST[2].data() + c;
    const float* st3 = s.mST3.data() + c;
    const float* st4 = s.mST4.data() + c;
    const float* st5 = s.mST5.data() + c;
    const float* sg0 = w.mDiagST2[0].data() + c;
    const float* sg1 = w.mDiagST2[1].data() + c;
    const float* sg2 = w.mDiagST2[2].data() + c;
    const float* sg3 = s.mST23.data() + c;
    const float* sg4 = s.mST24.data() + c;
    const float* sg5 = s.mST25.data() + c;
    const float* aGX = s.mGX.data() + c;
    const float* aGY = s.mGY.data() + c;
    const float* aGXPrev = s.mGX.data() + aPrev;
    const float* aGYPrev = s.mGY.data() + aPrev;
    const float* aR3Sum = w.mR3Sum.data() + c;
    float* aR1 = s.mR1.data() + c;
    float* aR2 = s.mR2.data() + c;
    float* aDenU = s.mDenU.data() + c;
    float* aDenV = s.mDenV.data() + c;
    const int aLast = s.lastRow(d);
    QUORVIK_IVDEP
    for (int y = s.firstRow(d); y <= aLast; y++) {
      const float du = aDU[y];
      const float dv = aDV[y];
      const float q1 = du * du * st0[y] + dv * dv * st1[y] + st2[y] +
                       2.0f * (du * dv * st3[y] + du * st4[y] + dv * st5[y]);
      const float q2 = du * du * sg0[y] + dv * dv * sg1[y] + sg2[y] +
                       2.0f * (du * dv * sg3[y] + du * sg4[y] + dv * sg5[y]);
      const float r1 = clampedRobustWeight(aDataWeight, q1);
      const float r2 = clampedRobustWeight(aGradientWeight, q2);
      aR1[y] = r1;
      aR2[y] = r2;
      // Edge weights towards the left, upper, right and lower neighbour.
      float aNum = 0.0f;
      aNum += aGXPrev[y];
      aNum += aGYPrev[y - 1];
      aNum += aGX[y];
      aNum += aGY[y];
      const float aDenominatorU = r1 * st0[y] + aNum + r2 * sg0[y] + aR3Sum[y];
      const float aDenominatorV = r1 * st1[y] + aNum + r2 * sg1[y] + aR3Sum[y];
      // A lone pixel of a 1 x 1 level without data has an empty equation: keep it at 0
      // instead of dividing by zero.
      aDenU[y] = aDenominatorU == 0.0f ? 1.0f : aDenominatorU;
      aDenV[y] = aDenominatorV == 0.0f ? 1.0f : aDenominatorV;
    }
  }
}

QUORVIK_AVX2 void dataWeightsAvx2(CFlowSystem& s, const CLevelWork& w, float aDataWeight,
                                  float aGradientWeight) {
  dataWeightsKernel(s, w, aDataWeight, aGradientWeight);
}

void dataWeightsBase(CFlowSystem& s, const CLevelWork& w, float aDataWeight,
                     float aGradientWeight) {
  dataWeightsKernel(s, w, aDataWeight, aGradientWeight);
}

}  // namespace

void reserveLevels(int aXSize, int aYSize) {
  CLevelWork& w = tWork;
  const size_t aCount = static_cast<size_t>(std::max(aXSize, 0)) * std::max(aYSize, 0);
  const size_t aDiagonalCount = aCount + 2 * (static_cast<size_t>(aXSize) + aYSize + 1) + 1;
  CFlowSystem& s = w.mSystem;
  for (std::vector<float>* aArray :
       {&s.mDU,        &s.mDV,         &s.mU,          &s.mV,          &s.mGX,
        &s.mGY,        &s.mR1,         &s.mR2,         &s.mST3,        &s.mST4,
        &s.mST5,       &s.mST23,       &s.mST24,       &s.mST25,       &s.mR3U,
        &s.mR3V,       &s.mDenU,       &s.mDenV,       &w.mDiagST[0],  &w.mDiagST[1],
        &w.mDiagST[2], &w.mDiagST2[0], &w.mDiagST2[1], &w.mDiagST2[2], &w.mR3Sum})
    aArray->reserve(aDiagonalCount);
  const size_t aRowCount = static_cast<size_t>(std::max(aXSize, 0));
  w.mDerivatives.reserve((3 * (kBandRows + 2 * kReach) + 5 * kBandRows) * aRowCount);
  w.mBand.reserve(12 * kBandRows * aRowCount);
  w.mRowTable.reserve(static_cast<size_t>(std::max(aYSize, 0)));
  for (std::vector<float>* aArray : {&w.mIncU, &w.mIncV}) aArray->reserve(aCount);
  s.mOffset.reserve(static_cast<size_t>(std::max(aXSize + aYSize + 1, 0)));
}

void solveLevel(const CLevelData& aLevel, float* aFlowU, float* aFlowV,
                const CVariationalParameters& aParameters, float aGamma, int aSORIterations) {
  CLevelWork& w = tWork;
  const int aXSize = aLevel.mXSize;
  const int aYSize = aLevel.mYSize;
  const int aCount = aXSize * aYSize;
  if (aCount <= 0) return;
  const bool aAvx2 = useAvx2();

  // 1-2. Motion tensors; pixels whose warped sample left the second image have no data term.
  CFlowSystem& s = w.mSystem;
  s.resize(aXSize, aYSize);
  const size_t aDiagonalCount = s.mDU.size();
  for (int k = 0; k < 3; k++) {
    fitSize(w.mDiagST[k], aDiagonalCount);
    fitSize(w.mDiagST2[k], aDiagonalCount);
  }
  motionTensors(aLevel, w, s);

  // 3. Unknowns start at zero (resize); the base flow goes into the solver arrays.
  const float invAlpha = 1.0f / aParameters.mAlpha;
  toDiagonals(s, aFlowU, nullptr, s.mU.data());
  toDiagonals(s, aFlowV, nullptr, s.mV.data());
  for (std::vector<float>* aArray : {&w.mIncU, &w.mIncV}) fitSize(*aArray, aCount);
  w.mR3Sum.assign(aDiagonalCount, 0.0f);
  // The edge map's term of the smoothness weights, mEdgeWeight * e * e at every pixel.
  if (aLevel.mEdgeMap != nullptr) {
    fitSize(w.mEdgeRows, aCount);
    for (int i = 0; i < aCount; i++) {
      const float e = aLevel.mEdgeMap[i];
      w.mEdgeRows[i] = aParameters.mEdgeWeight * e * e;
    }
    fitSize(w.mEdgeTerm, aDiagonalCount);
    toDiagonals(s, w.mEdgeRows.data(), nullptr, w.mEdgeTerm.data());
  }

  // The proposals, ordered as the diagonal layout stores them (a stable counting sort by
  // diagonal: within a diagonal the rows ascend, and the channels of one pixel keep their
  // order), so that the matching weights are updated in storage order.
  const int aProposals = aLevel.mProposals;
  w.mTerms.clear();
  for (int h = 0; h < aProposals; h++) {
    const size_t aPlane = static_cast<size_t>(h) * aCount;
    const float* aGeoC = aLevel.mGeoC + aPlane;
    for (int i = 0; i < aCount; i++)
      if (aGeoC[i] > 0.0f) {
        const int x = i % aXSize, y = i / aXSize;
        w.mTerms.push_back({s.index(x, y), x + y, aGeoC[i], aLevel.mGeoU[aPlane + i],
                            aLevel.mGeoV[aPlane + i], aFlowU[i], aFlowV[i]});
      }
  }
  w.mDiagonalStart.assign(static_cast<size_t>(s.diagonals()) + 1, 0);
  for (const CProposalTerm& t : w.mTerms) w.mDiagonalStart[t.mDiagonal + 1]++;
  for (int d = 0; d < s.diagonals(); d++) w.mDiagonalStart[d + 1] += w.mDiagonalStart[d];
  w.mSortedTerms.resize(w.mTerms.size());
  for (const CProposalTerm& t : w.mTerms) w.mSortedTerms[w.mDiagonalStart[t.mDiagonal]++] = t;

  const float aDataWeight = invAlpha * aParameters.mDelta;
  const float aGradientWeight = invAlpha * aGamma;
  const float aMatchWeight = invAlpha * aParameters.mBeta;

  // 4. Lagged fixed-point iterations: freeze the robust weights, then relax.
  for (int aIter = 0; aIter < aParameters.mFixedPointIterations; aIter++) {
    // Edge weights of the solver; none beyond the last column or row.
    diagonalDiffusivity(s, aLevel.mEdgeMap != nullptr ? w.mEdgeTerm.data() : nullptr, w.mChU,
                        w.mChV);

    // Matching weights around the current flow estimate; pixels without a proposal keep 0.
    // The sums start at 0 with a pixel's first proposal (its proposals are adjacent).
    int aPrevious = -1;
    for (const CProposalTerm& t : w.mSortedTerms) {
      const int p = t.mIndex;
      const float eu = t.mU + s.mDU[p] - t.mGeoU;
      const float ev = t.mV + s.mDV[p] - t.mGeoV;
      const float aWeight = robustWeight(aMatchWeight * t.mConfidence, eu * eu + ev * ev);
      const bool aFirst = p != aPrevious;
      aPrevious = p;
      w.mR3Sum[p] = (aFirst ? 0.0f : w.mR3Sum[p]) + aWeight;
      s.mR3U[p] = (aFirst ? 0.0f : s.mR3U[p]) + aWeight * (t.mU - t.mGeoU);
      s.mR3V[p] = (aFirst ? 0.0f : s.mR3V[p]) + aWeight * (t.mV - t.mGeoV);
    }

    // Data weights and the diagonals of both equations.
    if (aAvx2)
      dataWeightsAvx2(s, w, aDataWeight, aGradientWeight);
    else
      dataWeightsBase(s, w, aDataWeight, aGradientWeight);

    sorSweeps(s, aSORIterations, aParameters.mOmega);
  }

  // 5. The level's result: base flow plus increment.
  fromDiagonals(s, s.mDU.data(), w.mIncU.data());
  fromDiagonals(s, s.mDV.data(), w.mIncV.data());
  for (int i = 0; i < aCount; i++) {
    aFlowU[i] += w.mIncU[i];
    aFlowV[i] += w.mIncV[i];
  }
}
