#include "tracking/TrackFiles.h"

#include <fstream>
#include <iostream>
#include <sstream>

#include "foundation/FileWrite.h"
#include "settings/ResultNames.h"

namespace {

// Longest sequence a result tracks file may announce.
constexpr long long kMaxTrackFileFrames = 1000000;

// Cached tracks must fit the run: they start inside the sequence and end by its last frame,
// and their neighbour indices name tracks of the same file. The graph construction indexes
// per-frame maps and the track list with these values.
bool consistentWithRun(const std::vector<CTrack>& aTracks, int aSequenceLength) {
  const int aCount = static_cast<int>(aTracks.size());
  for (const CTrack& aTrack : aTracks) {
    // The last frame a track covers, mSetupTime + its steps, is at most the run's last one.
    const long aEnd = static_cast<long>(aTrack.mSetupTime) + static_cast<long>(aTrack.mx.size());
    if (aTrack.mSetupTime < 0 || aEnd > aSequenceLength - 1L) return false;
    for (int j = 0; j < aTrack.mNearestNeighbors.size(); j++) {
      const int aIndex = aTrack.mNearestNeighbors(j);
      if (aIndex < -1 || aIndex >= aCount) return false;
    }
  }
  return true;
}

}  // namespace

std::string trackCacheFileName(const CRunSettings& aSettings) {
  return aSettings.mResultDir + NResultNames::trackCache(aSettings.mFilename, aSettings.mStartFrame,
                                                         aSettings.mSequenceLength,
                                                         aSettings.mStep);
}

bool readTrackFromFile(const CRunSettings& aSettings, std::vector<CTrack>& aTracks) {
  const std::string aName = trackCacheFileName(aSettings);
  std::ifstream aIn(aName);
  if (!aIn.is_open()) return false;
  // The tracks are read into a list of their own and handed over only when the whole file
  // has been read, so a damaged file never leaves a partial track list behind.
  std::vector<CTrack> aLoaded;
  int aCount = 0;
  bool aGood = static_cast<bool>(aIn >> aCount) && aCount >= 0;
  for (int i = 0; aGood && i < aCount; i++) {
    aLoaded.emplace_back();
    aGood = aLoaded.back().readFromFile(aIn);
  }
  if (aGood) {
    // Nothing but white space may follow the last record.
    aIn >> std::ws;
    aGood = aIn.eof() && consistentWithRun(aLoaded, aSettings.mSequenceLength);
  }
  if (!aGood) {
    std::cerr << "Malformed track cache file " << aName << " is ignored." << std::endl;
    return false;
  }
  aTracks.swap(aLoaded);
  return true;
}

bool writeTrackToFile(const CRunSettings& aSettings, const std::vector<CTrack>& aTracks) {
  std::ostringstream aOut;
  aOut << aTracks.size() << std::endl;
  for (const CTrack& aTrack : aTracks) aTrack.writeToFile(aOut);
  return NFile::writeWhole(trackCacheFileName(aSettings), "track cache", aOut.str());
}

bool writeTracks(const CRunSettings& aSettings, const std::vector<CTrack>& aTracks) {
  // The whole text is formed first and written in one go, so a failure leaves the old file.
  std::ostringstream aOut;
  int aCount = 0;
  for (const CTrack& aTrack : aTracks)
    if (aTrack.mLabel >= 0) aCount++;
  aOut << aSettings.mSequenceLength << std::endl;
  aOut << aCount << std::endl;
  for (const CTrack& aTrack : aTracks) {
    if (aTrack.mLabel < 0) continue;
    const int n = static_cast<int>(aTrack.mx.size());
    aOut << aTrack.mLabel << " " << n + 1 << std::endl;
    aOut << aTrack.mox << " " << aTrack.moy << " " << aTrack.mSetupTime << std::endl;
    for (int j = 0; j < n; j++)
      aOut << aTrack.mx[j] << " " << aTrack.my[j] << " " << aTrack.mSetupTime + j + 1 << std::endl;
  }
  return NFile::writeWhole(
      aSettings.mResultDir + NResultNames::kResultTracks.name(aSettings.mSequenceLength),
      "result tracks", aOut.str());
}

bool readTracks(const std::string& aFilename, int& aSequenceLength, std::vector<CTrack>& aTracks) {
  auto fail = [&](const std::string& aProblem) {
    std::cerr << "Cannot read tracks file " << aFilename << ": " << aProblem << std::endl;
    return false;
  };
  std::ifstream aIn(aFilename);
  if (!aIn.is_open()) return fail("cannot open it");
  long long aLength = 0, aCount = 0;
  if (!(aIn >> aLength >> aCount)) return fail("malformed header");
  if (aLength < 1 || aLength > kMaxTrackFileFrames || aCount < 0)
    return fail("header out of range");
  std::vector<CTrack> aLoaded;
  for (long long i = 0; i < aCount; i++) {
    const std::string aWhere = "track " + std::to_string(i);
    CTrack aTrack;
    long long aPoints = 0;
    if (!(aIn >> aTrack.mLabel >> aPoints >> aTrack.mox >> aTrack.moy >> aTrack.mSetupTime))
      return fail(aWhere + " is malformed or missing");
    if (aPoints < 1 || aTrack.mSetupTime < 0 || aTrack.mSetupTime + aPoints > aLength)
      return fail(aWhere + " lies outside frames 0 ... " + std::to_string(aLength - 1));
    for (long long j = 1; j < aPoints; j++) {
      float x, y;
      long long t;
      if (!(aIn >> x >> y >> t)) return fail(aWhere + " is malformed or missing");
      if (t != aTrack.mSetupTime + j) return fail(aWhere + " has its frames out of order");
      aTrack.mx.push_back(x);
      aTrack.my.push_back(y);
    }
    aLoaded.push_back(std::move(aTrack));
  }
  aIn >> std::ws;
  if (!aIn.eof()) return fail("unexpected text after the last track");
  aSequenceLength = static_cast<int>(aLength);
  aTracks.swap(aLoaded);
  return true;
}
