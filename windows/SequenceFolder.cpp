#include "windows/SequenceFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "densify/RegionPictures.h"
#include "flow/FlowCache.h"
#include "settings/ResultNames.h"
#include "settings/RunSettings.h"
#include "windows/TextFiles.h"

namespace {

namespace fs = std::filesystem;

// A window's folder lies two levels below the sequence's: its frame names start with this.
constexpr const char* kUpToSequence = "../../";
// The record of a finished window, in its folder.
constexpr const char* kDoneRecord = "window.txt";
// The line a finished run's status log ends with starts so, and so the line of every flow the
// run computes itself.
constexpr const char* kClosingLine = "Computation time: ";
constexpr const char* kFlowLine = "Compute optical flow";

bool exists(const std::string& aPath) {
  struct stat aInfo;
  return stat(aPath.c_str(), &aInfo) == 0;
}

// aTarget under the name aLink, sharing its contents: a hard link, or a symbolic link where the
// file system refuses hard links. An older file under that name is replaced.
bool shareFile(const std::string& aTarget, const std::string& aLink) {
  struct stat aOld, aNew;
  if (stat(aLink.c_str(), &aOld) == 0 && stat(aTarget.c_str(), &aNew) == 0 &&
      aOld.st_dev == aNew.st_dev && aOld.st_ino == aNew.st_ino)
    return true;
  if (std::remove(aLink.c_str()) != 0 && errno != ENOENT) {
    std::cerr << "Cannot replace " << aLink << ": " << std::strerror(errno) << std::endl;
    return false;
  }
  if (link(aTarget.c_str(), aLink.c_str()) == 0) return true;
  const std::string aAbsolute = fs::absolute(aTarget).string();
  if (symlink(aAbsolute.c_str(), aLink.c_str()) == 0) return true;
  std::cerr << "Cannot link " << aTarget << " to " << aLink << ": " << std::strerror(errno)
            << std::endl;
  return false;
}

std::string doneText(const CSequence& aSequence, const CWindow& aWindow, int aStep) {
  return "quorvik " + aSequence.mName + ".bmf " + std::to_string(aWindow.mFirst) + " " +
         std::to_string(aWindow.mCount) + " " + std::to_string(aStep) + "\n";
}

}  // namespace

bool openSequence(const std::string& aBmf, CSequence& aSequence) {
  aSequence = CSequence();
  aSequence.mBmf = aBmf;
  const size_t aSlash = aBmf.rfind('/');
  aSequence.mFolder = aSlash == std::string::npos ? "" : aBmf.substr(0, aSlash + 1);
  const std::string aBase = aSlash == std::string::npos ? aBmf : aBmf.substr(aSlash + 1);
  aSequence.mName = aBase.substr(0, aBase.find('.'));
  return readFrameList(aBmf, "", aSequence.mFrames);
}

std::string flowFolder(const CSequence& aSequence) {
  return aSequence.mFolder + NResultNames::kFolder + "/";
}

bool pairDone(const CSequence& aSequence, int aPair) {
  const std::string aFolder = flowFolder(aSequence);
  return exists(aFolder + NResultNames::kFlowSource.name(aPair)) &&
         exists(aFolder + NResultNames::kForwardFlow.name(aPair)) &&
         exists(aFolder + NResultNames::kBackwardFlow.name(aPair));
}

bool shareFlows(const CSequence& aSequence, const std::string& aFolder) {
  const std::string aFlows = flowFolder(aSequence);
  if (!makeFolders(aFlows)) return false;
  for (int a = 0; a + 1 < aSequence.frames(); a++) {
    if (pairDone(aSequence, a)) continue;
    const std::string aNames[] = {NResultNames::kForwardFlow.name(a),
                                  NResultNames::kBackwardFlow.name(a),
                                  NResultNames::kFlowSource.name(a)};
    if (!exists(aFolder + aNames[0]) || !exists(aFolder + aNames[1]) ||
        !exists(aFolder + aNames[2]))
      continue;
    // The record last, so that a pair is complete only with both flows.
    for (const std::string& aName : aNames)
      if (!shareFile(aFolder + aName, aFlows + aName)) return false;
  }
  return true;
}

std::string windowPath(const CSequence& aSequence, const CWindow& aWindow) {
  return aSequence.mFolder + windowFolder(aWindow, aSequence.frames()) + "/";
}

std::string windowResults(const CSequence& aSequence, const CWindow& aWindow) {
  return windowPath(aSequence, aWindow) + NResultNames::kFolder + "/";
}

bool prepareWindow(const CSequence& aSequence, const CWindow& aWindow) {
  const std::string aFolder = windowPath(aSequence, aWindow);
  const std::string aResults = windowResults(aSequence, aWindow);
  if (!makeFolders(aResults)) return false;
  std::remove((aFolder + kDoneRecord).c_str());
  // The window's run numbers its frames as the sequence does, so its ".bmf" lists them all.
  std::string aList = std::to_string(aSequence.frames()) + " 1\n";
  for (const std::string& aName : aSequence.mFrames) aList += kUpToSequence + aName + "\n";
  if (!writeTextFile(aFolder + aSequence.mName + ".bmf", aList)) return false;
  const std::string aFlows = flowFolder(aSequence);
  for (int a = aWindow.mFirst; a < aWindow.last(); a++) {
    if (!pairDone(aSequence, a)) continue;  // the run computes it
    for (const std::string& aName :
         {NResultNames::kForwardFlow.name(a), NResultNames::kBackwardFlow.name(a),
          NResultNames::kFlowSource.name(a)})
      if (!shareFile(aFlows + aName, aResults + aName)) return false;
  }
  return true;
}

std::vector<std::string> windowRun(const std::string& aQuorvik, const CSequence& aSequence,
                                   const CWindow& aWindow, int aStep) {
  return {aQuorvik, windowPath(aSequence, aWindow) + aSequence.mName + ".bmf",
          std::to_string(aWindow.mFirst), std::to_string(aWindow.mCount), std::to_string(aStep)};
}

bool recordWindowDone(const CSequence& aSequence, const CWindow& aWindow, int aStep) {
  return writeTextFile(windowPath(aSequence, aWindow) + kDoneRecord,
                       doneText(aSequence, aWindow, aStep));
}

bool windowDone(const CSequence& aSequence, const CWindow& aWindow, int aStep) {
  if (readTextFile(windowPath(aSequence, aWindow) + kDoneRecord) !=
      doneText(aSequence, aWindow, aStep))
    return false;
  const std::string aResults = windowResults(aSequence, aWindow);
  const std::string aStatus =
      readTextFile(aResults + NResultNames::kStatusLog.name(aWindow.mCount));
  const size_t aLastLine = aStatus.rfind('\n', aStatus.size() >= 2 ? aStatus.size() - 2 : 0);
  const size_t aStart = aLastLine == std::string::npos ? 0 : aLastLine + 1;
  if (aStatus.compare(aStart, std::strlen(kClosingLine), kClosingLine) != 0) return false;
  for (int t = 0; t < aWindow.mCount; t++)
    if (!exists(aResults + NResultNames::kRegions.name(t)) ||
        !exists(aResults + NResultNames::kMask.name(t)))
      return false;
  return true;
}

int flowsComputed(const CSequence& aSequence, const CWindow& aWindow) {
  const std::string aStatus = readTextFile(windowResults(aSequence, aWindow) +
                                           NResultNames::kStatusLog.name(aWindow.mCount));
  int aCount = 0;
  for (size_t i = aStatus.find(kFlowLine); i != std::string::npos;
       i = aStatus.find(kFlowLine, i + 1))
    aCount++;
  return aCount;
}

void tidyWindow(const CSequence& aSequence, const CWindow& aWindow) {
  const std::string aResults = windowResults(aSequence, aWindow);
  auto starts = [](const std::string& aName, const char* aPrefix) {
    return aName.compare(0, std::strlen(aPrefix), aPrefix) == 0;
  };
  std::error_code aError;
  std::vector<fs::path> aDoomed;
  for (const fs::directory_entry& aEntry : fs::directory_iterator(aResults, aError)) {
    const std::string aName = aEntry.path().filename().string();
    for (const CNumberedName* aKind :
         {&NResultNames::kTracking, &NResultNames::kSegments, &NResultNames::kOverlay,
          &NResultNames::kForwardFlow, &NResultNames::kBackwardFlow, &NResultNames::kFlowSource})
      if (starts(aName, aKind->mPrefix)) aDoomed.push_back(aEntry.path());
  }
  for (const fs::path& aPath : aDoomed) fs::remove(aPath, aError);
}
