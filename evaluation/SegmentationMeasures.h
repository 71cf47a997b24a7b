// Quality measures of a segmentation against per-pixel ground truth.
//
// - The measures of a binary foreground mask exactly as the DAVIS data set's evaluation
//   computes them: the region similarity J and the boundary measure F of one frame, and per
//   sequence the mean, the recall (share of frames above 0.5) and the decay.
// - Multi-object measures of a label map: predicted regions matched one to one to
//   ground-truth regions, per-object precision, recall and F from pixel overlaps summed over
//   all frames, the number of objects extracted, and the density of a sparse map.
// - The oracle foreground: the best set of predicted regions, an upper bound of what a choice
//   of moving regions can reach.
//
// Conventions. A mask is a CMatrix<bool>, true = foreground. A label map is a CMatrix<int>:
// in ground truth 0 is the background and 1, 2, ... the objects; in a prediction every
// value >= 0 is a region, and kNoLabel marks a pixel without a label (sparse maps, such as
// rasterised trajectories). Maps compared with each other have the same size.
#pragma once

#include <map>
#include <utility>
#include <vector>

#include "foundation/CMatrix.h"

// A pixel of a predicted label map that carries no label.
constexpr int kNoLabel = -1;
// Boundary tolerance as a share of the picture diagonal (the value of the DAVIS evaluation).
constexpr double kBoundaryToleranceShare = 0.008;
// An object counts as extracted when its matched region reaches this F-measure.
constexpr double kExtractedF = 0.75;

// ---- DAVIS measures of one frame ----

// Region similarity J = |M ∩ G| / |M ∪ G| of mask aMask and truth aTruth; 1 when both are
// empty.
double regionSimilarity(const CMatrix<bool>& aMask, const CMatrix<bool>& aTruth);

// Boundary tolerance in pixels for a picture of the given size: ceil(0.008 x diagonal), at
// least 1 (8 for 854 x 480).
int boundaryTolerance(int aXSize, int aYSize);

// The boundary of a mask: the pixels (of either side) whose value differs from that of the
// east, the south or the south-east neighbour; in the last row only the east neighbour counts,
// in the last column only the south one, and the last pixel of the last row is no boundary.
// The picture border itself is no boundary: an object cut by the frame edge has no observed
// contour there. aBoundary gets aMask's size.
void boundaryPixels(const CMatrix<bool>& aMask, CMatrix<bool>& aBoundary);

// Boundary precision, recall and F of one frame.
struct CBoundaryMeasure {
  double mPrecision, mRecall, mF;
};

// Compares the boundaries of aMask and aTruth (boundaryPixels). A boundary pixel of one is
// matched when a boundary pixel of the other lies within aTolerance pixels (Euclidean
// distance <= aTolerance); matching is not one to one, several pixels may match the same
// one. Precision = matched mask boundary pixels / all mask boundary pixels, recall =
// matched truth boundary pixels / all truth boundary pixels, F = 2PR / (P + R) (0 when
// P + R = 0). Empty boundaries: both empty gives P = R = F = 1 (nothing to find, nothing
// wrongly found; note that an empty and a full mask both have no boundary); only the mask's
// empty gives P = 1, R = 0, F = 0; only the truth's empty gives P = 0, R = 1, F = 0.
CBoundaryMeasure boundaryMeasure(const CMatrix<bool>& aMask, const CMatrix<bool>& aTruth,
                                 int aTolerance);

// aMask = truth pixels of any object (label >= 1).
void truthForeground(const CMatrix<int>& aTruth, CMatrix<bool>& aMask);

// aMask = pixels whose label is one of aRegions.
void regionsMask(const CMatrix<int>& aLabels, const std::vector<int>& aRegions,
                 CMatrix<bool>& aMask);

// ---- Multi-object measures over a sequence ----

// Pixel counts of a prediction against the truth, summed over frames.
struct COverlapCounts {
  // (region, truth label) -> labelled pixels carrying both.
  std::map<std::pair<int, int>, long long> mJoint;
  // Region -> its pixels.
  std::map<int, long long> mRegionSize;
  // Truth label -> its labelled pixels (those the prediction gives a region).
  std::map<int, long long> mTruthLabelled;
  // Truth label -> all its pixels, labelled or not.
  std::map<int, long long> mTruthSize;
  // Labelled pixels and all pixels.
  long long mLabelled = 0, mPixels = 0;
};

// Adds one frame: aLabels (prediction, kNoLabel allowed) against aTruth (same size).
void addOverlap(const CMatrix<int>& aLabels, const CMatrix<int>& aTruth, COverlapCounts& aCounts);

// The score of one ground-truth region.
struct CObjectScore {
  int mObject;  // truth label (0 = background)
  int mRegion;  // matched region, or -1 when none is matched (or the match overlaps nothing)
  double mPrecision, mRecall, mF;
};

struct CMultiObjectScore {
  // Truth objects (labels >= 1) present in the counted frames.
  int mObjects = 0;
  // Distinct regions of the prediction.
  int mRegions = 0;
  // Objects whose F reaches kExtractedF.
  int mExtracted = 0;
  // Means over the objects (the background left out); NaN when there is no object.
  double mPrecision = 0, mRecall = 0, mF = 0;
  // Labelled pixels / all pixels (1 for a dense map).
  double mDensity = 0;
  // Every truth region, background first when present, then the objects by label.
  std::vector<CObjectScore> mPerObject;
};

// Matches regions to truth regions one to one so that the sum of their F-measures is
// largest (bestAssignment, the background taking part like an object, so that a region
// matched to the background cannot also count for an object) and scores every truth region
// g with its region c, over labelled pixels only (so that sparse trajectories are scored where they
// are): precision = |c ∩ g| / |c|, recall = |c ∩ g| / |g ∩ labelled|, F = 2PR / (P + R); all 0 for
// a region without a match or a quotient with denominator 0.
CMultiObjectScore scoreObjects(const COverlapCounts& aCounts);

// ---- Per-sequence statistics of a per-frame measure ----

// The recall of per-frame values: the share of them above 0.5 (0 for none).
double measureRecall(const std::vector<double>& aValues);

// The decay of per-frame values: the mean of the first quarter minus the mean of the last.
// The quarters are the DAVIS evaluation's: with n values and b_i = round(1 + i (n - 1) / 4) - 1
// (halves rounded up), the first is values b_0 ... b_1 and the last b_3 ... b_4 (both ends
// included, 0-based). 0 for no value.
double measureDecay(const std::vector<double>& aValues);

// ---- The oracle ----

// Per frame and region: its pixels and those of them on truth objects (labels >= 1); and the
// frame's truth object pixels.
struct CFrameRegionCounts {
  std::map<int, std::pair<long long, long long>> mRegions;  // region -> (pixels, on objects)
  long long mTruth = 0;
};

// Adds one frame's counts (aLabels and aTruth of the same size; kNoLabel pixels count for no
// region).
void addFrameRegions(const CMatrix<int>& aLabels, const CMatrix<int>& aTruth,
                     std::vector<CFrameRegionCounts>& aFrames);

// The oracle foreground: the regions sorted by the share of their pixels (over all frames) on
// truth objects, highest first (the lower region first on ties), and of these the prefix whose
// masks have the highest mean J over frames aFirst ... aEnd - 1 of aFrames (the shortest such
// prefix; none when no region lies on an object). In increasing order.
std::vector<int> oracleRegions(const std::vector<CFrameRegionCounts>& aFrames, int aFirst,
                               int aEnd);
