#include "app/Globals.h"

CVector<std::string> mInput;
std::string mFilename;
std::string mInputDir;
std::string mResultDir;
std::vector<CTrack> mTracks;
int mStartFrame = 0;
int mSequenceLength = 0;
int mStep = 0;
int mXSize = 0, mYSize = 0;
int mRegionNo = 0;
CVector<float> mEigVals;
CGraph mGraph;
CMatrix<float> mColorCode;
std::ofstream mStatus;

int mR[kPaletteSize] = {255, 10, 200, 0,  255, 0,  0,  180, 255, 180, 0,  170, 100,
                        240, 0,  255, 80, 70,  60, 50, 40,  30,  20,  10, 0};
int mG[kPaletteSize] = {10,  10,  190, 180, 0,  255, 255, 0,  210, 0,  0,  170, 100,
                        100, 100, 140, 80,  70, 60,  50,  40, 30,  20, 10, 0};
int mB[kPaletteSize] = {10, 255, 0, 0,  255, 255, 0,  0,  0,  180, 190, 170, 100,
                        10, 255, 0, 80, 70,  60,  50, 40, 30, 20,  10,  0};

int SAMPLE_RAND_COUNT = 30;
int SAMPLE_NN_COUNT = 12;
float TOL_COVERED_PERCENTAGE = 0.93f;
float ADJACENCY_WEIGHT = 0.1f;
int FRAME_SAMPLE = 8;
int FRAME_STEP = 3;
