#include "settings/RunSettings.h"

CVector<std::string> mInput;
std::string mFilename;
std::string mInputDir;
std::string mResultDir;
int mStartFrame = 0;
int mSequenceLength = 0;
int mStep = 0;
int mXSize = 0, mYSize = 0;
std::ofstream mStatus;
