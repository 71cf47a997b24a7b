// The run's process-wide state: the sequence, the trajectories, the clustering state and the
// tuning constants. The driver sets the sequence globals once at start; every phase reads
// them and appends to the status log.
#pragma once

#include <fstream>
#include <string>
#include <vector>

#include "foundation/CMatrix.h"
#include "foundation/CVector.h"
#include "spectral/CGraph.h"
#include "tracking/CTrack.h"

// Full path names of all frames of the .bmf file; index = absolute frame number.
extern CVector<std::string> mInput;
// Sequence name: the .bmf file's base name up to its first ".".
extern std::string mFilename;
// Directory of the .bmf file including the trailing "/", or empty.
extern std::string mInputDir;
// mInputDir + "QuorvikResults/"; every output file is written here.
extern std::string mResultDir;
// All point tracks of the run.
extern std::vector<CTrack> mTracks;
extern int mStartFrame;
extern int mSequenceLength;
// Grid spacing in pixels for seeding tracks.
extern int mStep;
// Frame width and height, from the first processed frame.
extern int mXSize, mYSize;
// Current number of regions.
extern int mRegionNo;
// Eigenvalue weights of the spectral embedding of the last split.
extern CVector<float> mEigVals;
// Affinity graph between tracks.
extern CGraph mGraph;
// 15000-row colour ramp (width 3) for track pictures.
extern CMatrix<float> mColorCode;
// Status log of the run.
extern std::ofstream mStatus;
// Region palette for segment pictures, label i -> (mR[i], mG[i], mB[i]).
constexpr int kPaletteSize = 25;
extern int mR[kPaletteSize], mG[kPaletteSize], mB[kPaletteSize];

// Tuning constants (initialised globals, never changed at run time).
extern int SAMPLE_RAND_COUNT;         // random third members per graph edge
extern int SAMPLE_NN_COUNT;           // nearest neighbours used as third members
extern float TOL_COVERED_PERCENTAGE;  // share of track points the graph's tracks must cover
extern float ADJACENCY_WEIGHT;        // scale of the affinity exponent
extern int FRAME_SAMPLE;              // frame gap of a triple sample
extern int FRAME_STEP;                // stride between triple samples
