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

#include "flow/FlowCache.h"
#include "foundation/FileWrite.h"
#include "settings/RunSettings.h"

namespace {

constexpr const char* kLockName = "Run.lock";

int gLock = -1;

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

void removeLeftovers() {
  std::error_code aError;
  for (const auto& aEntry : std::filesystem::directory_iterator(mResultDir, aError)) {
    const long aWriter = NFile::temporaryWriter(aEntry.path().filename().string());
    if (aWriter <= 0 || aWriter == getpid()) continue;
    if (kill(static_cast<pid_t>(aWriter), 0) == 0 || errno != ESRCH) continue;
    std::filesystem::remove(aEntry.path(), aError);
  }
}

// "Name" or "First ... Last (N files)" for the existing files among aNames, in order.
void listExisting(const std::vector<std::string>& aNames, std::vector<std::string>& aList) {
  std::vector<std::string> aFound;
  for (const std::string& aName : aNames)
    if (std::filesystem::exists(mResultDir + aName)) aFound.push_back(aName);
  if (aFound.size() == 1) aList.push_back(aFound[0]);
  if (aFound.size() > 1)
    aList.push_back(aFound.front() + " ... " + aFound.back() + " (" +
                    std::to_string(aFound.size()) + " files)");
}

// The result files this run writes, by kind, that already exist.
std::string existingResultFiles() {
  std::vector<std::string> aList;
  listExisting({formatName("Status%d.txt", mSequenceLength)}, aList);
  listExisting({formatName("Tracks%d.dat", mSequenceLength)}, aList);
  listExisting({"error.txt"}, aList);
  const int aFirst = mStartFrame, aLast = mStartFrame + mSequenceLength - 1;
  for (const char* aPattern : {"Segments%03d.ppm", "Tracking%03d.ppm", "Truth%03d.ppm"}) {
    std::vector<std::string> aNames;
    for (int a = aFirst; a <= aLast; a++) aNames.push_back(formatName(aPattern, a));
    listExisting(aNames, aList);
  }
  for (const char* aPattern : {"Regions%03d.png", "Mask%03d.png", "Overlay%03d.png"}) {
    std::vector<std::string> aNames;
    for (int t = 0; t < mSequenceLength; t++) aNames.push_back(formatName(aPattern, t));
    listExisting(aNames, aList);
  }
  std::vector<std::string> aForward, aBackward, aSources;
  for (int a = aFirst; a < aLast; a++) {
    aForward.push_back(forwardFlowFile(a));
    aBackward.push_back(backwardFlowFile(a));
    aSources.push_back(flowSourceFile(a));
  }
  for (const auto* aNames : {&aForward, &aBackward, &aSources}) listExisting(*aNames, aList);
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

bool holdResultFolder(const std::string& aSequence, const std::string& aCommand) {
  releaseResultFolder();
  const std::string aLockName = mResultDir + kLockName;
  const int aFile = open(aLockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (aFile < 0) {
    std::cerr << "Cannot use result folder " << mResultDir << ": " << aLockName << ": "
              << std::strerror(errno) << std::endl;
    return false;
  }
  if (flock(aFile, LOCK_EX | LOCK_NB) != 0) {
    const int aReason = errno;
    if (aReason == EWOULDBLOCK)
      std::cerr << "Result folder " << mResultDir << " is in use by another run ("
                << describeLockHolder(readAll(aFile)) << ")" << std::endl;
    else
      std::cerr << "Cannot lock result folder " << mResultDir << ": " << std::strerror(aReason)
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
  gLock = aFile;
  removeLeftovers();
  if (!aPrevious.empty() && aPrevious != aSequence) {
    const std::string aReplaced = existingResultFiles();
    if (!aReplaced.empty())
      std::cerr << "Result folder " << mResultDir << " holds results of " << aPrevious
                << "; this run of " << aSequence << " replaces " << aReplaced << std::endl;
  }
  return true;
}

void releaseResultFolder() {
  if (gLock < 0) return;
  close(gLock);
  gLock = -1;
}
