// Scoring the results of one sequence against per-pixel ground truth in the DAVIS layout:
// the work of quorvik-evaluate, as a library so that the tests can call it.
//
// Ground truth: a folder of "NNNNN.png" files (five digits, absolute frame numbers). A grey
// file holds one object: every value other than 0 is the object, 0 the background (DAVIS
// 2016 masks are 0 and 255, other tools write 0 and 1). A palette file holds object ids: the
// palette index is the object, 0 the background (DAVIS 2017). Colour (RGB) files are refused.
//
// Results: a folder with, per processed frame t (relative, from 0, three digits; or five
// digits, as quorvik-segment names the results of a whole video, when there are no such files):
// - "Regions%03d.png", the run's regions: palette index (or grey value) = region number;
// - "Mask%03d.png", the run's moving-object mask: every grey value or palette index other
//   than 0 = moving object;
// and, on request, the run's trajectories (a "Tracks<N>.dat" file, tracking/TrackFiles.h).
//
// Prediction t belongs to ground-truth frame mFirst + t. The predictions of frame t exist
// when every kind the results hold has it (Regions, Mask, and frames 0 ... length - 1 of
// the trajectories); the scored frames are those whose ground truth exists too.
//
// Measures (evaluation/SegmentationMeasures.h), with the truth foreground = all objects:
// - J and F of the run's own masks, and of the oracle mask (the best prefix of the regions
//   sorted by their share on the objects over all scored frames; an upper bound of any choice
//   of moving regions made that way); per frame, then averaged over the scored frames without
//   the first and the last (all of them when there are fewer than three), as the DAVIS
//   evaluation does; over the same frames the recall and the decay of the masks' J and F;
// - the multi-object measures of the regions over all scored frames, and of the
//   trajectories rasterised into sparse label maps (trackLabels) with their density;
// - whether every object keeps one region over the frames (IdentitySwitches.h).
#pragma once

#include <limits>
#include <string>
#include <vector>

#include "evaluation/IdentitySwitches.h"
#include "evaluation/SegmentationMeasures.h"
#include "foundation/CMatrix.h"
#include "tracking/CTrack.h"

// Value of a measure that could not be taken (NaN).
constexpr double kNotScored = std::numeric_limits<double>::quiet_NaN();

struct CEvaluationRequest {
  std::string mTruthDir;
  std::string mResultDir;
  // A "Tracks<N>.dat" file to score as sparse label maps; empty: none.
  std::string mTracksFile;
  // Ground-truth frame of prediction 0 (>= 0).
  int mFirst = 0;
  // Sequence name for the report; empty: sequenceName(mTruthDir).
  std::string mName;
};

// Measures of one scored frame; NaN where the kind of prediction is missing.
struct CFrameScore {
  int t;            // prediction frame (relative)
  int mTruthFrame;  // mFirst + t
  double mMaskJ, mMaskF, mOracleJ, mOracleF;
};

struct CSequenceScore {
  std::string mName;
  int mFirst = 0;
  // Scored frames, and those of them in the J and F means.
  int mFrames = 0, mAveragedFrames = 0;
  bool mHasMasks = false, mHasRegions = false, mHasTracks = false;
  // Ground-truth objects (labels >= 1) present in the scored frames.
  int mObjects = 0;
  // Means of J and F; NaN when the kind of prediction is missing.
  double mMaskJ = kNotScored, mMaskF = kNotScored, mOracleJ = kNotScored, mOracleF = kNotScored;
  // Recall and decay of the masks' J and F over the averaged frames; NaN without masks.
  double mMaskJRecall = kNotScored, mMaskJDecay = kNotScored;
  double mMaskFRecall = kNotScored, mMaskFDecay = kNotScored;
  // The regions the oracle takes as foreground.
  std::vector<int> mOracleRegions;
  // Multi-object measures of the regions and of the trajectories (when present).
  CMultiObjectScore mRegions, mTracks;
  // The region of every object in every scored frame where it is seen, and its changes.
  CIdentityCount mIdentity;
  std::vector<CFrameScore> mPerFrame;
};

// Default sequence name: the name of the ground-truth folder, or of its parent when the
// folder is called "masks" (.../blackswan/masks gives blackswan).
std::string sequenceName(const std::string& aTruthDir);

// The sparse label map of relative frame t: every track with a label >= 0 that covers t
// puts its label at its position rounded to the nearest pixel (halves away from zero),
// when that lies inside the aXSize x aYSize picture; a later track in aTracks overwrites an
// earlier one on the same pixel. All other pixels are kNoLabel.
void trackLabels(const std::vector<CTrack>& aTracks, int t, int aXSize, int aYSize,
                 CMatrix<int>& aLabels);

// Scores one sequence. Returns false, after one line on standard error, when a folder is
// missing or not a folder, the results hold no predictions, no frame has both a prediction
// and ground truth, a file cannot be read or has an unusable colour type, or a prediction's
// size differs from its ground truth's. Sizes and colour types are checked from the files'
// headers before any picture of the frame is decoded.
bool evaluateSequence(const CEvaluationRequest& aRequest, CSequenceScore& aScore);

// The CSV columns, comma-separated, and one sequence's row (newline-terminated both).
// Columns, in this order (values missing for lack of a kind of prediction are empty):
//   sequence          sequence name
//   first             ground-truth frame of prediction 0
//   frames            frames scored (present on both sides)
//   jf_frames         frames in the J and F means (frames without the first and the last)
//   mask_J, mask_F    mean J and F of the run's moving-object masks
//   oracle_J, oracle_F  mean J and F of the oracle foreground (the best prefix of regions)
//   oracle_regions    number of regions the oracle takes
//   objects           ground-truth objects (background not counted)
//   regions           distinct regions of the prediction
//   extracted         objects whose matched region has F >= 0.75
//   precision, recall, F  multi-object measures of the regions, means over the objects
//   density           share of pixels with a region (1 for dense regions)
//   tracks_regions, tracks_extracted, tracks_precision, tracks_recall, tracks_F,
//   tracks_density    the same for the rasterised trajectories
//   mask_J_recall, mask_J_decay, mask_F_recall, mask_F_decay
//                     recall and decay of the masks' J and F
// Numbers are written with six significant digits.
std::string csvHeader();
std::string csvRow(const CSequenceScore& aScore);
