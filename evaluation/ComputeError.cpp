#include "evaluation/ComputeError.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "flow/FlowPictures.h"
#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"
#include "foundation/CVector.h"
#include "foundation/Exceptions.h"
#include "foundation/FileWrite.h"
#include "settings/ResultNames.h"
#include "tracking/TrackRecords.h"

namespace {

// Squared distance that every real trajectory beats.
constexpr float kInitialDistance = 1e9f;
// Object r is drawn with colour ramp row kColorRowStep * r, objects beyond the ramp with its
// last row.
constexpr int kColorRowStep = 400;
// Every label up to the largest gets an entry in the object table; beyond this a label is not a
// plausible object number and would only cost memory.
constexpr int kMaxObjectLabel = 1000000;
// Half-sizes of the reference point marker and of the mark of a wrongly clustered point.
constexpr int kPointRadius = 1;
constexpr int kErrorRadius = 3;
// Cluster numbers beyond this are not a clustering result (the vote table would not fit).
constexpr long long kMaxClusters = 1 << 24;

// The annotation as read from its file.
struct CAnnotation {
  int mPointCount = 0;
  int mRowCount = 0;
  int mShift = 0;
  CMatrix<int> X, Y, mLabel;  // (point, row)
  // Per object: its number of (point, row) entries and its label.
  std::vector<CSizeStruct> mSizes;
};

// A labelled trajectory's position in one frame.
struct CPoint {
  float x, y;
  int mLabel;
};

void refuse(const std::string& aFile, const std::string& aReason) {
  std::cerr << "computeError: " << aFile << ": " << aReason << "; no evaluation written"
            << std::endl;
}

// Reads and checks the annotation; false (with a message) when it cannot be used.
bool readAnnotation(const CRunSettings& aSettings, std::ifstream& aIn, const std::string& aName,
                    CAnnotation& aResult) {
  const int aStartFrame = aSettings.mStartFrame, aFrames = aSettings.mSequenceLength;
  long long aPointCount, aRowCount, aShift;
  if (!(aIn >> aPointCount >> aRowCount >> aShift)) {
    refuse(aName, "malformed annotation header");
    return false;
  }
  if (aPointCount < 0 || aRowCount < 0 || aShift < 0 || aPointCount > 1000000000LL ||
      aRowCount > 1000000000LL || aShift > 1000000000LL) {
    refuse(aName, "annotation header out of range");
    return false;
  }
  // Row k describes absolute frame shift + k. The evaluation starts at the later of the
  // annotation's and the run's first frame and needs a row for each of its frames.
  const long long aFirstRow = std::max(aShift, static_cast<long long>(aStartFrame)) - aShift;
  if (aRowCount < aFirstRow + aFrames) {
    refuse(aName, "annotation has " + std::to_string(aRowCount) + " rows from frame " +
                      std::to_string(aShift) + ", the run evaluates frames " +
                      std::to_string(aShift + aFirstRow) + " to " +
                      std::to_string(aShift + aFirstRow + aFrames - 1));
    return false;
  }
  // The values are gathered while they are read, so a header promising more than the file
  // holds costs no more memory than the file itself.
  std::vector<int> aValues;
  const long long aTotal = aPointCount * aRowCount;
  if (aTotal > 300000000LL) {
    refuse(aName, "annotation too large");
    return false;
  }
  aValues.reserve(static_cast<size_t>(std::min(aTotal, 1000000LL)) * 3);
  for (long long i = 0; i < aTotal; i++) {
    int x, y, aLabel;
    if (!(aIn >> x >> y >> aLabel)) {
      refuse(aName, "malformed or truncated annotation (entry " + std::to_string(i) + ")");
      return false;
    }
    if (aLabel < 1) {
      refuse(aName, "annotation label " + std::to_string(aLabel) + " below 1");
      return false;
    }
    if (aLabel > kMaxObjectLabel) {
      refuse(aName, "annotation label " + std::to_string(aLabel) + " above " +
                        std::to_string(kMaxObjectLabel));
      return false;
    }
    aValues.push_back(x);
    aValues.push_back(y);
    aValues.push_back(aLabel);
  }
  aResult.mPointCount = static_cast<int>(aPointCount);
  aResult.mRowCount = static_cast<int>(aRowCount);
  aResult.mShift = static_cast<int>(aShift);
  aResult.X.setSize(aResult.mPointCount, aResult.mRowCount);
  aResult.Y.setSize(aResult.mPointCount, aResult.mRowCount);
  aResult.mLabel.setSize(aResult.mPointCount, aResult.mRowCount);
  aResult.mSizes.clear();
  for (long long i = 0; i < aTotal; i++) {
    const int aLabel = aValues[3 * i + 2];
    aResult.X[static_cast<int>(i)] = aValues[3 * i];
    aResult.Y[static_cast<int>(i)] = aValues[3 * i + 1];
    aResult.mLabel[static_cast<int>(i)] = aLabel;
    while (static_cast<int>(aResult.mSizes.size()) < aLabel)
      aResult.mSizes.emplace_back(0, static_cast<int>(aResult.mSizes.size()) + 1);
    aResult.mSizes[aLabel - 1].mSize++;
  }
  std::sort(aResult.mSizes.begin(), aResult.mSizes.end());
  return true;
}

// Reads the evaluated frames aFirstFrame ... aFirstFrame + mSequenceLength - 1; false (with a
// message) when one is missing or unusable.
bool readFrames(const CRunSettings& aSettings, int aFirstFrame,
                std::vector<CTensor<float>>& aShow) {
  const CVector<std::string>& aInput = aSettings.mInput;
  const int aXSize = aSettings.mXSize, aYSize = aSettings.mYSize;
  aShow.resize(aSettings.mSequenceLength);
  for (int k = 0; k < aSettings.mSequenceLength; k++) {
    const long long t = static_cast<long long>(aFirstFrame) + k;
    if (t >= aInput.size()) {
      refuse("frame " + std::to_string(t),
             "the sequence list has only " + std::to_string(aInput.size()) + " frames");
      return false;
    }
    const std::string& aName = aInput(static_cast<int>(t));
    bool aRead = false;
    try {
      aRead = aShow[k].readFromPPM(aName.c_str());
    } catch (const EInvalidFileFormat&) {
      aRead = false;
    }
    if (!aRead) {
      refuse(aName, "frame cannot be read");
      return false;
    }
    if (aShow[k].xSize() != aXSize || aShow[k].ySize() != aYSize || aShow[k].zSize() < 3) {
      refuse(aName, "frame is not a " + std::to_string(aXSize) + " x " + std::to_string(aYSize) +
                        " colour picture");
      return false;
    }
  }
  return true;
}

// Labelled trajectory positions of every evaluated frame (absolute aFirstFrame + k, relative
// aFirstFrame + k - mStartFrame), in trajectory-list order.
std::vector<std::vector<CPoint>> labelledPositions(const CRunSettings& aSettings,
                                                   const std::vector<CTrack>& aTracks,
                                                   int aFirstFrame) {
  std::vector<std::vector<CPoint>> aFrames(aSettings.mSequenceLength);
  for (int k = 0; k < aSettings.mSequenceLength; k++) {
    const int t = aFirstFrame - aSettings.mStartFrame + k;
    for (const CTrack& aTrack : aTracks) {
      if (aTrack.mLabel < 0 || !aTrack.covers(t)) continue;
      const CTrackPoint p = aTrack.positionAt(t);
      aFrames[k].push_back({p.x, p.y, aTrack.mLabel});
    }
  }
  return aFrames;
}

// Cluster of the labelled trajectory nearest to (x, y); the first of equals wins, 0 if none.
int nearestLabel(const std::vector<CPoint>& aPoints, int x, int y) {
  float aBest = kInitialDistance;
  int aLabel = 0;
  const float fx = static_cast<float>(x), fy = static_cast<float>(y);
  for (const CPoint& p : aPoints) {
    const float dx = p.x - fx, dy = p.y - fy;
    const float aDist = dx * dx + dy * dy;
    if (aDist < aBest) {
      aBest = aDist;
      aLabel = p.mLabel;
    }
  }
  return aLabel;
}

// Fills the square of half-size r around (x, y), clipped to the picture.
void paintSquare(CTensor<float>& aPicture, int x, int y, int r, const float aColor[3]) {
  const long long x0 = std::max(static_cast<long long>(x) - r, 0LL);
  const long long x1 = std::min(static_cast<long long>(x) + r, aPicture.xSize() - 1LL);
  const long long y0 = std::max(static_cast<long long>(y) - r, 0LL);
  const long long y1 = std::min(static_cast<long long>(y) + r, aPicture.ySize() - 1LL);
  for (long long py = y0; py <= y1; py++)
    for (long long px = x0; px <= x1; px++)
      for (int c = 0; c < 3; c++)
        aPicture(static_cast<int>(px), static_cast<int>(py), c) = aColor[c];
}

}  // namespace

bool computeError(const CRunSettings& aSettings, const std::vector<CTrack>& aTracks,
                  int aRegionNo) {
  const std::string aName = aSettings.mInputDir + NResultNames::annotation(aSettings.mFilename);
  std::ifstream aIn(aName);
  if (!aIn.is_open()) return true;

  CAnnotation aTruth;
  if (!readAnnotation(aSettings, aIn, aName, aTruth)) return true;
  aIn.close();
  std::vector<CTensor<float>> aShow;
  // The evaluated frames: from the later of the annotation's and the run's first frame on; the
  // pictures, the annotation rows and the trajectories all refer to these same frames.
  const int aFirstFrame = std::max(aTruth.mShift, aSettings.mStartFrame);
  const int aFirstRow = aFirstFrame - aTruth.mShift;
  if (!readFrames(aSettings, aFirstFrame, aShow)) return true;

  // Cluster numbers come from the trajectories; size the vote table to hold every one.
  long long aLargest = std::max(aRegionNo, 1) - 1LL;
  for (const CTrack& aTrack : aTracks) aLargest = std::max<long long>(aLargest, aTrack.mLabel);
  if (aLargest >= kMaxClusters) {
    refuse(aName, "cluster number " + std::to_string(aLargest) + " out of range");
    return true;
  }
  const int aClusterCount = static_cast<int>(aLargest) + 1;
  std::vector<char> aAllowedLabels(aClusterCount, 1);
  std::vector<int> aAssigned(aClusterCount);
  const std::vector<std::vector<CPoint>> aPositions =
      labelledPositions(aSettings, aTracks, aFirstFrame);
  const int aFrames = aSettings.mSequenceLength;
  int aPositives = 0, aNegatives = 0;

  for (size_t r = 0; r < aTruth.mSizes.size(); r++) {
    const int aObject = aTruth.mSizes[r].mLabel;
    const CColour c = colorCode(static_cast<long long>(kColorRowStep) * static_cast<long long>(r));
    const float aColor[3] = {c.mRed, c.mGreen, c.mBlue};
    std::fill(aAssigned.begin(), aAssigned.end(), 0);
    for (int p = 0; p < aTruth.mPointCount; p++) {
      if (aTruth.mLabel(p, 0) != aObject) continue;
      for (int k = 0; k < aFrames; k++) {
        const int x = aTruth.X(p, aFirstRow + k), y = aTruth.Y(p, aFirstRow + k);
        paintSquare(aShow[k], x, y, kPointRadius, aColor);
        aAssigned[nearestLabel(aPositions[k], x, y)]++;
      }
    }
    int aMatch = -1, aMost = 0, aSum = 0;
    for (int c = 0; c < aClusterCount; c++) {
      aSum += aAssigned[c];
      if (aAllowedLabels[c] && aAssigned[c] > aMost) {
        aMost = aAssigned[c];
        aMatch = c;
      }
    }
    if (aMatch >= 0) {
      aPositives += aAssigned[aMatch];
      aNegatives += aSum - aAssigned[aMatch];
      aAllowedLabels[aMatch] = 0;
    } else {
      aNegatives += aSum;
    }
    for (int p = 0; p < aTruth.mPointCount; p++) {
      if (aTruth.mLabel(p, 0) != aObject) continue;
      for (int k = 0; k < aFrames; k++) {
        const int x = aTruth.X(p, aFirstRow + k), y = aTruth.Y(p, aFirstRow + k);
        if (nearestLabel(aPositions[k], x, y) != aMatch)
          paintSquare(aShow[k], x, y, kErrorRadius, aColor);
      }
    }
  }

  for (int k = 0; k < aFrames; k++)
    if (!aShow[k].writeToPPM(
            (aSettings.mResultDir + NResultNames::kTruth.name(aFirstFrame + k)).c_str()))
      return false;
  const float aResult =
      (static_cast<float>(aNegatives) * 100.0f) / static_cast<float>(aNegatives + aPositives);
  std::ostringstream aOut;
  aOut << aPositives << " " << aNegatives << " " << aResult << "\n";
  return NFile::writeWhole(aSettings.mResultDir + NResultNames::kEvaluation, "evaluation file",
                           aOut.str());
}
