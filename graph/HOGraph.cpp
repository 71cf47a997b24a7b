#include "graph/HOGraph.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "graph/EdgeWeigher.h"
#include "graph/TrackDistances.h"
#include "tracking/DistanceTransform.h"
#include "tracking/TrackRecords.h"

namespace {

// Edges weighed in one parallel loop (at least, unless the stage ends first), and edges a
// worker thread takes at a time.
constexpr size_t kBatchEdges = 1 << 14;
constexpr int kEdgeChunk = 8;
// Neighbour lists a worker thread fills at a time.
constexpr int kNeighborChunk = 16;
// Initial value of a coverage cell no selected trajectory has reached.
constexpr float kUncovered = 1e20f;

struct CCoverage {
  std::vector<CMatrix<float>> mMaps;
  float mInvStep;

  CCoverage(int aFrames, int aXSize, int aYSize, int aStep)
      : mInvStep(1.0f / static_cast<float>(aStep)) {
    for (int f = 0; f < aFrames; f++)
      mMaps.emplace_back(aXSize / aStep + 1, aYSize / aStep + 1, kUncovered);
  }
  // Cell of a point in map f; points outside the picture fall into the nearest border cell.
  float& cell(int f, float x, float y) {
    CMatrix<float>& m = mMaps[f];
    const int cx = std::min(std::max(static_cast<int>(mInvStep * x), 0), m.xSize() - 1);
    const int cy = std::min(std::max(static_cast<int>(mInvStep * y), 0), m.ySize() - 1);
    return m(cx, cy);
  }
};

// Margins of a track's bounding box: its first position may enter a mean truncated toward zero
// (up to one pixel off), and float sums of positions are off by far less than the rest.
constexpr float kTruncationMargin = 1.0f;
constexpr double kRoundingMargin = 0.5;
constexpr double kRelativeRoundingMargin = 1e-3;
// The squared distance of two means is formed in float from their differences.
constexpr double kSquareRounding = 1e-5;

// The box that holds every mean position of a track over any window, whatever the rounding.
struct CBox {
  double mMinX = 0.0, mMaxX = 0.0, mMinY = 0.0, mMaxY = 0.0;
  CBox() = default;
  explicit CBox(const CTrack& t) {
    float x0 = static_cast<float>(t.mox), x1 = x0, y0 = static_cast<float>(t.moy), y1 = y0;
    for (size_t k = 0; k < t.mx.size(); k++) {
      x0 = std::min(x0, t.mx[k]);
      x1 = std::max(x1, t.mx[k]);
      y0 = std::min(y0, t.my[k]);
      y1 = std::max(y1, t.my[k]);
    }
    const double aScale =
        std::max(std::max(std::fabs(x0), std::fabs(x1)), std::max(std::fabs(y0), std::fabs(y1)));
    const double aMargin = kTruncationMargin + kRoundingMargin + kRelativeRoundingMargin * aScale;
    mMinX = x0 - aMargin;
    mMaxX = x1 + aMargin;
    mMinY = y0 - aMargin;
    mMaxY = y1 + aMargin;
  }
  // A lower bound of the squared distance, as computed in float, between any mean of this
  // track and any of aOther's (0 where the boxes overlap).
  double squaredGap(const CBox& aOther) const {
    const double dx = std::max(0.0, std::max(aOther.mMinX - mMaxX, mMinX - aOther.mMaxX));
    const double dy = std::max(0.0, std::max(aOther.mMinY - mMaxY, mMinY - aOther.mMaxY));
    return (dx * dx + dy * dy) * (1.0 - kSquareRounding);
  }
};

// Squared length of the last neighbour offset, as the neighbour search compares it.
inline double lastSquaredLength(const CTrack& t) {
  const int k = t.mNearestNeighbors.size() - 1;
  const float dx = t.mNearestNeighborsDX(k), dy = t.mNearestNeighborsDY(k);
  return static_cast<double>(dx * dx + dy * dy);
}

inline bool isTrack(int aIndex, int aTrackCount) {
  return aIndex >= 0 && aIndex < aTrackCount;
}

// Remainders by a fixed divisor d > 0 through two multiplications instead of a division,
// exact for every 32-bit dividend (Lemire, Kaser and Kurz, "Faster remainder by direct
// computation", 2019).
class CRemainder {
 public:
  explicit CRemainder(std::uint32_t d) : mDivisor(d), mFactor(~std::uint64_t{0} / d + 1) {}
  std::uint32_t of(std::uint32_t a) const {
    const std::uint64_t aLow = mFactor * a;
    return static_cast<std::uint32_t>((static_cast<unsigned __int128>(aLow) * mDivisor) >> 64);
  }

 private:
  std::uint64_t mDivisor;
  std::uint64_t mFactor;
};

// Marks the trajectories of an edge's triples as taking part (mLabel 0 in the end). An edge's
// third members are its random members and the first aNeighborCount (SAMPLE_NN_COUNT)
// neighbours of both end nodes (without the other end node, which is marked anyway); marks are
// only ever set, so a node's neighbours need marking once. Marks go to a byte per trajectory,
// which stays in the caches, and reach the labels at the end: nothing reads a label while the
// graph is built.
class CMarker {
 public:
  CMarker(std::vector<CTrack>& aTracks, int aNeighborCount)
      : mTracks(aTracks),
        mNeighborCount(aNeighborCount),
        mMarked(aTracks.size(), 0),
        mNeighborsMarked(aTracks.size(), 0) {}
  void endNode(int aNode) {
    mMarked[aNode] = 1;
    if (mNeighborsMarked[aNode]) return;
    mNeighborsMarked[aNode] = 1;
    const CTrack& aTrack = mTracks[aNode];
    const int aCount = static_cast<int>(mTracks.size());
    const int aUsed = std::min(mNeighborCount, aTrack.mNearestNeighbors.size());
    for (int j = 0; j < aUsed; j++) {
      const int c = aTrack.mNearestNeighbors(j);
      if (isTrack(c, aCount)) mMarked[c] = 1;
    }
  }
  void member(int aNode) { mMarked[aNode] = 1; }
  // Sets mLabel 0 on every marked trajectory.
  void label() const {
    for (size_t i = 0; i < mTracks.size(); i++)
      if (mMarked[i]) mTracks[i].mLabel = 0;
  }

 private:
  std::vector<CTrack>& mTracks;
  const int mNeighborCount;
  std::vector<char> mMarked;
  std::vector<char> mNeighborsMarked;
};

// An edge to weigh.
struct CEdgeJob {
  int mNode1, mNode2;
};

// Edges to weigh with their random members (R per edge, in edge order) and their weights.
struct CEdgeBatch {
  std::vector<CEdgeJob> mJobs;
  std::vector<int> mRandom;
  std::vector<float> mWeights;
};

// The edges of one selection stage and their random members, drawn in stage order: for each
// k1, loop A against the later candidates of the stage, then loop B against the trajectories
// selected in earlier stages.
class CStageDraws {
 public:
  CStageDraws(const std::vector<CTrackItem>& aList, unsigned aStop,
              const std::vector<int>& aAssigned, int R, CRandom& aRand, CMarker& aMarker)
      : mList(aList),
        mStop(aStop),
        mAssigned(aAssigned),
        mR(R),
        mRand(aRand),
        mMarker(aMarker),
        mByStop(std::max(aStop, 1u)),
        mByCount(static_cast<std::uint32_t>(std::max<size_t>(aAssigned.size(), 1))) {}

  // Replaces aBatch's edges by those of the next k1 until it holds at least kBatchEdges
  // edges or the stage has none left.
  void fill(CEdgeBatch& aBatch) {
    aBatch.mJobs.clear();
    aBatch.mRandom.clear();
    while (mK1 + 2 < mStop && aBatch.mJobs.size() < kBatchEdges) drawK1(aBatch, mK1++);
  }

 private:
  void drawK1(CEdgeBatch& aBatch, unsigned k1) {
    const int node1 = mList[k1].mIndex;
    for (unsigned k2 = k1 + 1; k2 < mStop; k2++) {
      aBatch.mJobs.push_back({node1, mList[k2].mIndex});
      for (int r = 0; r < mR; r++) {
        unsigned d;
        do d = mByStop.of(static_cast<std::uint32_t>(mRand.next()));
        while (d == k1 || d == k2);
        aBatch.mRandom.push_back(mList[d].mIndex);
        mMarker.member(mList[d].mIndex);
      }
    }
    // With a single earlier selection every draw would hit the excluded slot: no random
    // members then.
    const int aCountB = static_cast<int>(mAssigned.size());
    for (int i = 0; i < aCountB; i++) {
      aBatch.mJobs.push_back({node1, mAssigned[i]});
      for (int r = 0; r < mR; r++) {
        if (aCountB < 2) {
          aBatch.mRandom.push_back(-1);
          continue;
        }
        int d;
        do d = static_cast<int>(mByCount.of(static_cast<std::uint32_t>(mRand.next())));
        while (d == i || mAssigned[d] == node1);
        aBatch.mRandom.push_back(mAssigned[d]);
        mMarker.member(mAssigned[d]);
      }
    }
  }

  const std::vector<CTrackItem>& mList;
  const unsigned mStop;
  const std::vector<int>& mAssigned;
  const int mR;
  CRandom& mRand;
  CMarker& mMarker;
  const CRemainder mByStop;
  const CRemainder mByCount;
  unsigned mK1 = 0;
};

void addEdge(CGraph& aEdges, int node1, int node2, float w) {
  if (w == 0.0f) return;
  aEdges[node1].emplace_back(node2, w);
  aEdges[node2].emplace_back(node1, w);
}

}  // namespace

float edgeWeight(const std::vector<CTrack>& aTracks, int node1, int node2, const int* aRandom,
                 const CGraphTuning& aTuning, long long* aTriples) {
  return CEdgeWeigher(aTracks, aTuning).weigh(node1, node2, aRandom, aTriples);
}

void buildHOGraph(const CRunSettings& aSettings, std::vector<CTrack>& aTracks,
                  CVector<bool>& aValidTracks, CGraph& aEdges, CRandom& aRandom,
                  CHOGraphStats* aStats) {
  const CGraphTuning& aTuning = aSettings.mTuning;
  CHOGraphStats aFigures;
  const int aTrackCount = static_cast<int>(aTracks.size());
  const int R = std::max(aTuning.SAMPLE_RAND_COUNT, 0);

  // Step 1: nearest neighbours over all valid pairs. A track's list takes the offers of the
  // other tracks in index order, as a run over the pairs in pair order gives them to it, so
  // the lists are filled one per worker at a time. An offer whose key surely exceeds the
  // list's last entry changes nothing and is passed over.
  std::vector<CBox> aBoxes(static_cast<size_t>(aTrackCount));
  std::vector<int> aValid, aSetup(static_cast<size_t>(aTrackCount)),
      aEnd(static_cast<size_t>(aTrackCount));
  for (int i = 0; i < aTrackCount; i++) {
    if (!aValidTracks(i)) continue;
    aValid.push_back(i);
    aBoxes[i] = CBox(aTracks[i]);
    aSetup[i] = aTracks[i].mSetupTime;
    aEnd[i] = aTracks[i].endTime();
  }
  const int aValidCount = static_cast<int>(aValid.size());
#pragma omp parallel for schedule(dynamic, kNeighborChunk)
  for (int a = 0; a < aValidCount; a++) {
    const int i = aValid[a];
    CTrack& A = aTracks[i];
    const CBox& aBox = aBoxes[i];
    const bool aHasList = A.mNearestNeighbors.size() > 0;
    for (int b = 0; b < aValidCount; b++) {
      const int j = aValid[b];
      if (j == i) continue;
      if (std::min(aEnd[i], aEnd[j]) - std::max(aSetup[i], aSetup[j]) < 1) continue;
      const double aFloor = aBox.squaredGap(aBoxes[j]);
      if (aFloor > 0.0 && aHasList && aFloor > lastSquaredLength(A)) continue;
      offerNearestNeighbor(A, aTracks[j], j);
    }
  }

  // Step 2: one empty list per trajectory.
  CGraph().swap(aEdges);
  aEdges.resize(aTrackCount);

  // Step 3: candidates scored by their total flow variation.
  std::vector<CTrackItem> aList;
  std::vector<int> aAssigned;
  int aTotalLength = 0;
  int aCoveredLength = 0;
  for (int i = 0; i < aTrackCount; i++) {
    if (!aValidTracks(i)) continue;
    const CTrack& aTrack = aTracks[i];
    aList.emplace_back(i, aTrack.mFlowVar.empty() ? 0.0f : aTrack.mFlowVar.back());
    aTotalLength += static_cast<int>(aTrack.mx.size());
  }
  CCoverage aCovered(aSettings.mSequenceLength + 1, aSettings.mXSize, aSettings.mYSize,
                     std::max(aSettings.mStep, 1));

  // The edges of consecutive k1 are weighed together, in one parallel loop per batch of at
  // least kBatchEdges edges: their draws come in the order of a one-thread run (for each k1
  // loop A, then loop B), and nothing an edge's weighing reads changes within a stage. While
  // the team weighs a batch, one of its threads enters the edges of the batch before and
  // draws those of the batch after.
  CEdgeBatch aBatches[3];
  long long aTriples = 0;
  const CEdgeWeigher aWeigher(aTracks, aTuning);
  CMarker aMarker(aTracks, aTuning.SAMPLE_NN_COUNT);
  auto aEnter = [&](const CEdgeBatch& aBatch) {
    const int aCount = static_cast<int>(aBatch.mJobs.size());
    for (int e = 0; e < aCount; e++) {
      aMarker.endNode(aBatch.mJobs[e].mNode1);
      aMarker.endNode(aBatch.mJobs[e].mNode2);
      addEdge(aEdges, aBatch.mJobs[e].mNode1, aBatch.mJobs[e].mNode2, aBatch.mWeights[e]);
    }
    aFigures.mEdgesWeighed += aCount;
  };

  // Step 4: selection stages.
  do {
    std::sort(aList.begin(), aList.end());
    const unsigned aStop = static_cast<unsigned>(aList.size()) / 4;
    // Fewer than four candidates: no stage can select anything any more.
    if (aStop == 0) break;
    CStageDraws aDraws(aList, aStop, aAssigned, R, aRandom, aMarker);
    int aCurrent = 0;
    aDraws.fill(aBatches[0]);
    const CEdgeBatch* aPrevious = nullptr;
    while (!aBatches[aCurrent].mJobs.empty()) {
      CEdgeBatch& aBatch = aBatches[aCurrent];
      CEdgeBatch& aNext = aBatches[(aCurrent + 1) % 3];
      const int aCount = static_cast<int>(aBatch.mJobs.size());
      aBatch.mWeights.assign(aBatch.mJobs.size(), 0.0f);
#pragma omp parallel
      {
#pragma omp single nowait
        {
          if (aPrevious != nullptr) aEnter(*aPrevious);
          aDraws.fill(aNext);
        }
#pragma omp for schedule(dynamic, kEdgeChunk) reduction(+ : aTriples) nowait
        for (int e = 0; e < aCount; e++)
          aBatch.mWeights[e] =
              aWeigher.weigh(aBatch.mJobs[e].mNode1, aBatch.mJobs[e].mNode2,
                             aBatch.mRandom.data() + static_cast<size_t>(e) * R, &aTriples);
      }
      aPrevious = &aBatch;
      aCurrent = (aCurrent + 1) % 3;
    }
    if (aPrevious != nullptr) aEnter(*aPrevious);
    // Selection of this stage's candidates and their coverage.
    for (unsigned k1 = 0; k1 < aStop; k1++) {
      const CTrack& aTrack = aTracks[aList[k1].mIndex];
      aAssigned.push_back(aList[k1].mIndex);
      const int n = static_cast<int>(aTrack.mx.size());
      aCoveredLength += n;
      for (int t = 0; t < n; t++)
        aCovered.cell(aTrack.mSetupTime + t, aTrack.mx[t], aTrack.my[t]) = 0.0f;
    }
    for (int f = 0; f < aSettings.mSequenceLength; f++)
      euclideanDistanceTransform(aCovered.mMaps[f]);
    for (unsigned i = 0; i < aStop && i < aList.size(); i++) {
      aList[i] = aList.back();
      aList.pop_back();
    }
    // Re-score: far from every selection, or in frames nothing covers, scores highest.
    for (CTrackItem& aItem : aList) {
      const CTrack& aTrack = aTracks[aItem.mIndex];
      const int n = static_cast<int>(aTrack.mx.size());
      if (n == 0) {
        aItem.mScore = 0.0f;
        continue;
      }
      float aSum = 0.0f;
      for (int t = 0; t < n; t++)
        aSum += aCovered.cell(aTrack.mSetupTime + t, aTrack.mx[t], aTrack.my[t]);
      aItem.mScore = aTrack.mFlowVar.back() * aSum;
    }
  } while (aTuning.TOL_COVERED_PERCENTAGE * static_cast<float>(aTotalLength) >
           static_cast<float>(aCoveredLength));

  aMarker.label();
  // Step 5: the remaining candidates take no part.
  for (const CTrackItem& aItem : aList) {
    aTracks[aItem.mIndex].mLabel = -1;
    aValidTracks(aItem.mIndex) = false;
  }
  aFigures.mTriples = aTriples;
  if (aStats != nullptr) *aStats = aFigures;
}
