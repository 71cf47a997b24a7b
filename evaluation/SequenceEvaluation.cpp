#include "evaluation/SequenceEvaluation.h"

#include <cmath>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "evaluation/ResultFiles.h"
#include "foundation/PNGFile.h"
#include "tracking/TrackFiles.h"

namespace {

namespace fs = std::filesystem;

// Digits of the frame numbers in ground-truth file names.
constexpr CNumberedName kTruthFrames{"", 5, ".png"};

// What a PNG file of the evaluation holds, which decides how its values become labels.
enum class CRole { kTruth, kMask, kRegions };

bool fail(const std::string& aProblem) {
  std::cerr << "Cannot evaluate: " << aProblem << std::endl;
  return false;
}

bool refuseColour(const std::string& aPath) {
  return fail(aPath + " is a colour PNG; it must be grey or palette-indexed");
}

// Reads a PNG file as labels of the given role (the header explains the rules).
bool readLabels(const std::string& aPath, CRole aRole, CMatrix<int>& aLabels) {
  NPNG::CImage aImage;
  if (!NPNG::readPNG(aPath, aImage)) return false;
  if (aImage.mType == NPNG::CType::kRGB) return refuseColour(aPath);
  const bool aGrey = aImage.mType == NPNG::CType::kGrey;
  aLabels.setSize(aImage.mPixels.xSize(), aImage.mPixels.ySize());
  const float* aValues = aImage.mPixels.data();
  for (int i = 0; i < aLabels.size(); i++) {
    const int v = static_cast<int>(aValues[i]);
    switch (aRole) {
      case CRole::kTruth:
        aLabels.data()[i] = aGrey ? (v != 0 ? 1 : 0) : v;
        break;
      case CRole::kMask:
        aLabels.data()[i] = v != 0 ? 1 : 0;
        break;
      case CRole::kRegions:
        aLabels.data()[i] = v;
        break;
    }
  }
  return true;
}

// Checks the headers of a prediction and its ground truth before either is decoded: both grey
// or palette, and of one size. A damaged or oversized file costs nothing but its header.
bool headersAgree(const std::string& aPath, const std::string& aTruthPath) {
  NPNG::CInfo aInfo, aTruthInfo;
  if (!NPNG::readPNGInfo(aTruthPath, aTruthInfo) || !NPNG::readPNGInfo(aPath, aInfo)) return false;
  if (aTruthInfo.mType == NPNG::CType::kRGB) return refuseColour(aTruthPath);
  if (aInfo.mType == NPNG::CType::kRGB) return refuseColour(aPath);
  if (aInfo.mXSize == aTruthInfo.mXSize && aInfo.mYSize == aTruthInfo.mYSize) return true;
  return fail("sizes differ: " + aPath + " is " + std::to_string(aInfo.mXSize) + " x " +
              std::to_string(aInfo.mYSize) + ", its ground truth " + aTruthPath + " is " +
              std::to_string(aTruthInfo.mXSize) + " x " + std::to_string(aTruthInfo.mYSize));
}

bool sameSize(const CMatrix<int>& aPrediction, const std::string& aPath, const CMatrix<int>& aTruth,
              const std::string& aTruthPath) {
  if (aPrediction.xSize() == aTruth.xSize() && aPrediction.ySize() == aTruth.ySize()) return true;
  return fail("sizes differ: " + aPath + " is " + std::to_string(aPrediction.xSize()) + " x " +
              std::to_string(aPrediction.ySize()) + ", its ground truth " + aTruthPath + " is " +
              std::to_string(aTruth.xSize()) + " x " + std::to_string(aTruth.ySize()));
}

void toMask(const CMatrix<int>& aLabels, CMatrix<bool>& aMask) {
  aMask.setSize(aLabels.xSize(), aLabels.ySize());
  for (int i = 0; i < aLabels.size(); i++) aMask.data()[i] = aLabels.data()[i] != 0;
}

// J and F of aMask against the truth foreground.
void scoreMask(const CMatrix<bool>& aMask, const CMatrix<bool>& aTruth, double& J, double& F) {
  J = regionSimilarity(aMask, aTruth);
  F = boundaryMeasure(aMask, aTruth, boundaryTolerance(aTruth.xSize(), aTruth.ySize())).mF;
}

// Mean of the per-frame values of one measure over the averaged frames.
double meanOver(const std::vector<CFrameScore>& aFrames, double CFrameScore::*aMeasure) {
  const int n = static_cast<int>(aFrames.size());
  const int aBegin = n >= 3 ? 1 : 0, aEnd = n >= 3 ? n - 1 : n;
  double aSum = 0;
  for (int i = aBegin; i < aEnd; i++) aSum += aFrames[i].*aMeasure;
  return aEnd > aBegin ? aSum / (aEnd - aBegin) : kNotScored;
}

std::string range(int aFrom, int aTo) {
  return aFrom == aTo ? std::to_string(aFrom)
                      : std::to_string(aFrom) + " ... " + std::to_string(aTo);
}

std::string csvNumber(double aValue) {
  if (std::isnan(aValue)) return "";
  std::ostringstream aOut;
  aOut << aValue;
  return aOut.str();
}

std::string csvText(const std::string& aText) {
  if (aText.find_first_of(",\"\n\r") == std::string::npos) return aText;
  std::string aQuoted = "\"";
  for (char c : aText) aQuoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return aQuoted + "\"";
}

// The multi-object columns of one kind of prediction, empty when it is missing.
std::string csvObjects(bool aPresent, const CMultiObjectScore& aScore) {
  std::ostringstream aOut;
  auto count = [&](int aValue) { return aPresent ? std::to_string(aValue) : std::string(); };
  auto number = [&](double aValue) { return aPresent ? csvNumber(aValue) : std::string(); };
  aOut << count(aScore.mRegions) << "," << count(aScore.mExtracted) << ","
       << number(aScore.mPrecision) << "," << number(aScore.mRecall) << "," << number(aScore.mF)
       << "," << number(aScore.mDensity);
  return aOut.str();
}

}  // namespace

std::string sequenceName(const std::string& aTruthDir) {
  fs::path aPath = fs::path(aTruthDir).lexically_normal();
  if (!aPath.has_filename()) aPath = aPath.parent_path();  // a trailing "/"
  if (aPath.filename() == "masks" && aPath.has_parent_path()) aPath = aPath.parent_path();
  return aPath.filename().string();
}

void trackLabels(const std::vector<CTrack>& aTracks, int t, int aXSize, int aYSize,
                 CMatrix<int>& aLabels) {
  aLabels.setSize(aXSize, aYSize);
  aLabels.fill(kNoLabel);
  for (const CTrack& aTrack : aTracks) {
    if (aTrack.mLabel < 0 || !aTrack.covers(t)) continue;
    const CTrackPoint p = aTrack.positionAt(t);
    const long x = std::lround(p.x), y = std::lround(p.y);
    if (x >= 0 && y >= 0 && x < aXSize && y < aYSize) aLabels(x, y) = aTrack.mLabel;
  }
}

bool evaluateSequence(const CEvaluationRequest& aRequest, CSequenceScore& aScore) {
  aScore = CSequenceScore();
  aScore.mName = aRequest.mName.empty() ? sequenceName(aRequest.mTruthDir) : aRequest.mName;
  aScore.mFirst = aRequest.mFirst;
  std::error_code aError;
  for (const auto& aFolder : {std::make_pair("ground-truth", &aRequest.mTruthDir),
                              std::make_pair("results", &aRequest.mResultDir)}) {
    const std::string& aPath = *aFolder.second;
    if (fs::is_directory(aPath, aError)) continue;
    return fail("the " + std::string(aFolder.first) + " folder " + aPath +
                (fs::exists(aPath, aError) ? " is not a folder" : " does not exist"));
  }
  const std::map<int, std::string> aTruth = numberedFiles(aRequest.mTruthDir, kTruthFrames);
  if (aTruth.empty())
    return fail("the ground-truth folder " + aRequest.mTruthDir + " holds no NNNNN.png file");
  // A run's names, or else those of a whole video.
  auto results = [&](const CNumberedName& aRun, const CNumberedName& aVideo) {
    std::map<int, std::string> aFiles = numberedFiles(aRequest.mResultDir, aRun);
    return aFiles.empty() ? numberedFiles(aRequest.mResultDir, aVideo) : aFiles;
  };
  const std::map<int, std::string> aMasks = results(NResultNames::kMask, NResultNames::kVideoMask);
  const std::map<int, std::string> aRegions =
      results(NResultNames::kRegions, NResultNames::kVideoRegions);
  std::vector<CTrack> aTracks;
  int aTrackFrames = 0;
  if (!aRequest.mTracksFile.empty()) {
    if (!readTracks(aRequest.mTracksFile, aTrackFrames, aTracks)) return false;
    aScore.mHasTracks = true;
  }
  aScore.mHasMasks = !aMasks.empty();
  aScore.mHasRegions = !aRegions.empty();
  if (!aScore.mHasMasks && !aScore.mHasRegions && !aScore.mHasTracks)
    return fail("the results folder " + aRequest.mResultDir +
                " holds no Regions%03d.png or Mask%03d.png file and no tracks file was given");

  // Frames predicted by every kind present, and those of them with ground truth.
  auto predicted = [&](int t) {
    return t >= 0 && (!aScore.mHasMasks || aMasks.count(t)) &&
           (!aScore.mHasRegions || aRegions.count(t)) && (!aScore.mHasTracks || t < aTrackFrames);
  };
  std::vector<int> aScored;
  for (const auto& aEntry : aTruth) {
    const int t = aEntry.first - aRequest.mFirst;
    if (predicted(t)) aScored.push_back(t);
  }
  if (aScored.empty()) {
    const std::map<int, std::string>& aSome = aScore.mHasRegions ? aRegions : aMasks;
    const int aLow = aSome.empty() ? 0 : aSome.begin()->first;
    const int aHigh = aSome.empty() ? aTrackFrames - 1 : aSome.rbegin()->first;
    return fail("no frame has both a prediction and ground truth: predictions " +
                range(aLow, aHigh) + " are ground-truth frames " +
                range(aLow + aRequest.mFirst, aHigh + aRequest.mFirst) + " (--first " +
                std::to_string(aRequest.mFirst) + "), " + aRequest.mTruthDir + " has frames " +
                range(aTruth.begin()->first, aTruth.rbegin()->first));
  }
  aScore.mFrames = static_cast<int>(aScored.size());

  // First pass: the masks' J and F, and the overlap counts of regions and trajectories.
  COverlapCounts aRegionCounts, aTrackCounts;
  std::vector<CFrameRegionCounts> aFrameRegions;
  std::set<int> aObjects;
  CMatrix<int> aTruthLabels, aLabels;
  CMatrix<bool> aTruthMask, aMask;
  for (int t : aScored) {
    const std::string& aTruthPath = aTruth.at(t + aRequest.mFirst);
    if ((aScore.mHasMasks && !headersAgree(aMasks.at(t), aTruthPath)) ||
        (aScore.mHasRegions && !headersAgree(aRegions.at(t), aTruthPath)) ||
        !readLabels(aTruthPath, CRole::kTruth, aTruthLabels))
      return false;
    for (int i = 0; i < aTruthLabels.size(); i++)
      if (aTruthLabels.data()[i] >= 1) aObjects.insert(aTruthLabels.data()[i]);
    truthForeground(aTruthLabels, aTruthMask);
    CFrameScore aFrame{t, t + aRequest.mFirst, kNotScored, kNotScored, kNotScored, kNotScored};
    if (aScore.mHasMasks) {
      const std::string& aPath = aMasks.at(t);
      if (!readLabels(aPath, CRole::kMask, aLabels) ||
          !sameSize(aLabels, aPath, aTruthLabels, aTruthPath))
        return false;
      toMask(aLabels, aMask);
      scoreMask(aMask, aTruthMask, aFrame.mMaskJ, aFrame.mMaskF);
    }
    if (aScore.mHasRegions) {
      const std::string& aPath = aRegions.at(t);
      if (!readLabels(aPath, CRole::kRegions, aLabels) ||
          !sameSize(aLabels, aPath, aTruthLabels, aTruthPath))
        return false;
      addOverlap(aLabels, aTruthLabels, aRegionCounts);
      aScore.mIdentity.add(aTruthLabels, aLabels);
      addFrameRegions(aLabels, aTruthLabels, aFrameRegions);
    }
    if (aScore.mHasTracks) {
      trackLabels(aTracks, t, aTruthLabels.xSize(), aTruthLabels.ySize(), aLabels);
      addOverlap(aLabels, aTruthLabels, aTrackCounts);
    }
    aScore.mPerFrame.push_back(aFrame);
  }
  aScore.mObjects = static_cast<int>(aObjects.size());

  // Second pass: the oracle, once the regions' shares over all frames are known.
  const int n = aScore.mFrames;
  const int aBegin = n >= 3 ? 1 : 0, aEnd = n >= 3 ? n - 1 : n;
  if (aScore.mHasRegions) {
    aScore.mOracleRegions = oracleRegions(aFrameRegions, aBegin, aEnd);
    for (CFrameScore& aFrame : aScore.mPerFrame) {
      if (!readLabels(aTruth.at(aFrame.mTruthFrame), CRole::kTruth, aTruthLabels) ||
          !readLabels(aRegions.at(aFrame.t), CRole::kRegions, aLabels))
        return false;
      truthForeground(aTruthLabels, aTruthMask);
      regionsMask(aLabels, aScore.mOracleRegions, aMask);
      scoreMask(aMask, aTruthMask, aFrame.mOracleJ, aFrame.mOracleF);
    }
    aScore.mRegions = scoreObjects(aRegionCounts);
  }
  if (aScore.mHasTracks) aScore.mTracks = scoreObjects(aTrackCounts);

  aScore.mAveragedFrames = aEnd - aBegin;
  if (aScore.mHasMasks) {
    aScore.mMaskJ = meanOver(aScore.mPerFrame, &CFrameScore::mMaskJ);
    aScore.mMaskF = meanOver(aScore.mPerFrame, &CFrameScore::mMaskF);
    std::vector<double> aJ, aF;
    for (int i = aBegin; i < aEnd; i++) {
      aJ.push_back(aScore.mPerFrame[i].mMaskJ);
      aF.push_back(aScore.mPerFrame[i].mMaskF);
    }
    aScore.mMaskJRecall = measureRecall(aJ);
    aScore.mMaskJDecay = measureDecay(aJ);
    aScore.mMaskFRecall = measureRecall(aF);
    aScore.mMaskFDecay = measureDecay(aF);
  }
  if (aScore.mHasRegions) {
    aScore.mOracleJ = meanOver(aScore.mPerFrame, &CFrameScore::mOracleJ);
    aScore.mOracleF = meanOver(aScore.mPerFrame, &CFrameScore::mOracleF);
  }
  return true;
}

std::string csvHeader() {
  return "sequence,first,frames,jf_frames,mask_J,mask_F,oracle_J,oracle_F,oracle_regions,"
         "objects,regions,extracted,precision,recall,F,density,"
         "tracks_regions,tracks_extracted,tracks_precision,tracks_recall,tracks_F,"
         "tracks_density,mask_J_recall,mask_J_decay,mask_F_recall,mask_F_decay\n";
}

std::string csvRow(const CSequenceScore& aScore) {
  std::ostringstream aOut;
  aOut << csvText(aScore.mName) << "," << aScore.mFirst << "," << aScore.mFrames << ","
       << aScore.mAveragedFrames << "," << csvNumber(aScore.mMaskJ) << ","
       << csvNumber(aScore.mMaskF) << "," << csvNumber(aScore.mOracleJ) << ","
       << csvNumber(aScore.mOracleF) << ","
       << (aScore.mHasRegions ? std::to_string(aScore.mOracleRegions.size()) : "") << ","
       << aScore.mObjects << "," << csvObjects(aScore.mHasRegions, aScore.mRegions) << ","
       << csvObjects(aScore.mHasTracks, aScore.mTracks) << "," << csvNumber(aScore.mMaskJRecall)
       << "," << csvNumber(aScore.mMaskJDecay) << "," << csvNumber(aScore.mMaskFRecall) << ","
       << csvNumber(aScore.mMaskFDecay) << "\n";
  return aOut.str();
}
