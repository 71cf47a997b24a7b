#include "app/ResultFolder.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <vector>

#include "foundation/FileWrite.h"
#include "settings/ResultNames.h"

namespace {

std::string readAll(int aFile) {
  std::string aText;
  char aBuffer[512];
  ssize_t n;
  while ((n = pread(aFile, aBuffer, sizeof(aBuffer), static_cast<off_t>(aText.size()))) > 0)
    aText.append(aBuffer, static_cast<size_t>(n));
  return aText;
}

// The lock file's lines: the holder's process id, its sequence, its command.
std::string lockText(const std::string& aSequence, const std::string& aCommand) {
  return std::to_string(getpid()) + "\n" + aSequence + "\n" + aCommand + "\n";
}

std::vector<std::string> lockLines(const std::string& aText) {
  std::istringstream aIn(aText);
  std::vector<std::string> aLines;
  for (std::string aLine; aLines.size() < 3 && std::getline(aIn, aLine);) aLines.push_back(aLine);
  aLines.resize(3);
  return aLines;
}

void removeLeftovers(const std::string& aFolder) {
  std::error_code aError;
  for (const auto& aEntry : std::filesystem::directory_iterator(aFolder, aError)) {
    const long aWriter = NFile::temporaryWriter(aEntry.path().filename().string());
    if (aWriter <= 0 || aWriter == getpid()) continue;
    if (kill(static_cast<pid_t>(aWriter), 0) == 0 || errno != ESRCH) continue;
    std::filesystem::remove(aEntry.path(), aError);
  }
}

// "Name" or "First ... Last (N files)" for the existing files of aFolder among aNames, in order.
void listExisting(const std::string& aFolder, const std::vector<std::string>& aNames,
                  std::vector<std::string>& aList) {
  std::vector<std::string> aFound;
  for (const std::string& aName : aNames)
    if (std::filesystem::exists(aFolder + aName)) aFound.push_back(aName);
  if (aFound.size() == 1) aList.push_back(aFound[0]);
  if (aFound.size() > 1)
    aList.push_back(aFound.front() + " ... " + aFound.back() + " (" +
                    std::to_string(aFound.size()) + " files)");
}

// The result files the run of aSettings writes, by kind, that already exist.
std::string existingResultFiles(const CRunSettings& aSettings) {
  const std::string& aFolder = aSettings.mResultDir;
  std::vector<std::string> aList;
  auto listNumbered = [&](const CNumberedName& aKind, int aFirst, int aLast) {
    std::vector<std::string> aNames;
    for (int n = aFirst; n <= aLast; n++) aNames.push_back(aKind.name(n));
    listExisting(aFolder, aNames, aList);
  };
  const int aCount = aSettings.mSequenceLength;
  const int aFirst = aSettings.mStartFrame, aLast = aSettings.mStartFrame + aCount - 1;
  listNumbered(NResultNames::kStatusLog, aCount, aCount);
  listNumbered(NResultNames::kResultTracks, aCount, aCount);
  listExisting(aFolder, {NResultNames::kEvaluation}, aList);
  for (const CNumberedName& aKind :
       {NResultNames::kSegments, NResultNames::kTracking, NResultNames::kTruth})
    listNumbered(aKind, aFirst, aLast);
  for (const CNumberedName& aKind :
       {NResultNames::kRegions, NResultNames::kMask, NResultNames::kOverlay})
    listNumbered(aKind, 0, aCount - 1);
  for (const CNumberedName& aKind :
       {NResultNames::kForwardFlow, NResultNames::kBackwardFlow, NResultNames::kFlowSource})
    listNumbered(aKind, aFirst, aLast - 1);
  std::string aText;
  for (const std::string& aItem : aList) aText += (aText.empty() ? "" : ", ") + aItem;
  return aText;
}

}  // namespace

std::string describeLockHolder(const std::string& aText) {
  const std::vector<std::string> aLines = lockLines(aText);
  if (aLines[0].empty()) return "a run that has not yet said which";
  return "process " + aLines[0] + ": " + aLines[2];
}

bool CResultFolderHold::hold(const CRunSettings& aSettings, const std::string& aSequence,
                             const std::string& aCommand) {
  release();
  const std::string& aFolder = aSettings.mResultDir;
  const std::string aLockName = aFolder + NResultNames::kLock;
  const int aFile = open(aLockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (aFile < 0) {
    std::cerr << "Cannot use result folder " << aFolder << ": " << aLockName << ": "
              << std::strerror(errno) << std::endl;
    return false;
  }
  if (flock(aFile, LOCK_EX | LOCK_NB) != 0) {
    const int aReason = errno;
    if (aReason == EWOULDBLOCK)
      std::cerr << "Result folder " << aFolder << " is in use by another run ("
                << describeLockHolder(readAll(aFile)) << ")" << std::endl;
    else
      std::cerr << "Cannot lock result folder " << aFolder << ": " << std::strerror(aReason)
                << std::endl;
    close(aFile);
    return false;
  }
  const std::string aPrevious = lockLines(readAll(aFile))[1];
  const std::string aText = lockText(aSequence, aCommand);
  if (ftruncate(aFile, 0) != 0 ||
      pwrite(aFile, aText.data(), aText.size(), 0) != static_cast<ssize_t>(aText.size())) {
    std::cerr << "Cannot write " << aLockName << ": " << std::strerror(errno) << std::endl;
    close(aFile);
    return false;
  }
  mLock = aFile;
  removeLeftovers(aFolder);
  if (!aPrevious.empty() && aPrevious != aSequence) {
    const std::string aReplaced = existingResultFiles(aSettings);
    if (!aReplaced.empty())
      std::cerr << "Result folder " << aFolder << " holds results of " << aPrevious
                << "; this run of " << aSequence << " replaces " << aReplaced << std::endl;
  }
  return true;
}

void CResultFolderHold::release() {
  if (mLock < 0) return;
  close(mLock);
  mLock = -1;
}

CResultFolderHold::~CResultFolderHold() {
  release();
}
