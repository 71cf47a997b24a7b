#include "evaluation/ResultFiles.h"

#include <filesystem>
#include <fstream>
#include <set>

namespace {

namespace fs = std::filesystem;

// The last line of a finished run's status log starts so.
constexpr const char* kFinishedLine = "Computation time:";
// The per-frame results of a run.
constexpr CNumberedName kKinds[] = {NResultNames::kRegions, NResultNames::kMask};

// "4", "4 ... 9" or "1, 3 ... 5, 8" for ascending frame numbers.
std::string ranges(const std::vector<int>& aFrames) {
  std::string aText;
  for (size_t i = 0; i < aFrames.size();) {
    size_t j = i;
    while (j + 1 < aFrames.size() && aFrames[j + 1] == aFrames[j] + 1) j++;
    if (!aText.empty()) aText += ", ";
    aText += std::to_string(aFrames[i]);
    if (j > i) aText += " ... " + std::to_string(aFrames[j]);
    i = j + 1;
  }
  return aText;
}

// The last line of aPath that is not empty.
std::string lastLine(const std::string& aPath) {
  std::ifstream aIn(aPath);
  std::string aLast;
  for (std::string aLine; std::getline(aIn, aLine);)
    if (!aLine.empty()) aLast = aLine;
  return aLast;
}

}  // namespace

std::map<int, std::string> numberedFiles(const std::string& aDir, const CNumberedName& aKind) {
  std::map<int, std::string> aFiles;
  std::error_code aError;
  for (const fs::directory_entry& aEntry : fs::directory_iterator(aDir, aError)) {
    const int aNumber = aKind.numberOf(aEntry.path().filename().string());
    if (aNumber < 0 || !aEntry.is_regular_file(aError)) continue;
    aFiles[aNumber] = aEntry.path().string();
  }
  return aFiles;
}

std::vector<std::string> resultFolderWarnings(const std::string& aResultDir) {
  // The last run's log: the one written last (the larger count on a tie).
  std::error_code aError;
  int aFrames = -1;
  fs::file_time_type aNewest;
  std::string aLog;
  for (const fs::directory_entry& aEntry : fs::directory_iterator(aResultDir, aError)) {
    const std::string aName = aEntry.path().filename().string();
    const int aCount = NResultNames::kStatusLog.numberOf(aName);
    if (aCount < 0 || !aEntry.is_regular_file(aError)) continue;
    const fs::file_time_type aTime = aEntry.last_write_time(aError);
    if (aError) continue;
    if (aFrames < 0 || aTime > aNewest || (aTime == aNewest && aCount > aFrames)) {
      aFrames = aCount;
      aNewest = aTime;
      aLog = aName;
    }
  }
  std::vector<std::string> aWarnings;
  if (aFrames < 0) return aWarnings;
  const std::string aRun = "the run of " + aLog + " (" + std::to_string(aFrames) + " frames)";
  if (lastLine(aResultDir + "/" + aLog).rfind(kFinishedLine, 0) != 0)
    aWarnings.push_back(aRun + " has not finished (its log does not end with \"" + kFinishedLine +
                        "\"): its results may be incomplete or older");
  std::string aMissing, aForeign;
  for (const CNumberedName& aKind : kKinds) {
    const std::map<int, std::string> aFiles = numberedFiles(aResultDir, aKind);
    if (aFiles.empty()) continue;
    std::vector<int> aAbsent, aBeyond;
    for (int t = 0; t < aFrames; t++)
      if (!aFiles.count(t)) aAbsent.push_back(t);
    for (const auto& aFile : aFiles)
      if (aFile.first >= aFrames) aBeyond.push_back(aFile.first);
    const std::string aSeparator = "; ";
    if (!aAbsent.empty())
      aMissing += (aMissing.empty() ? "" : aSeparator) + aKind.mPrefix + " " + ranges(aAbsent);
    if (!aBeyond.empty())
      aForeign += (aForeign.empty() ? "" : aSeparator) + aKind.mPrefix + " " + ranges(aBeyond);
  }
  if (!aMissing.empty()) aWarnings.push_back("frames missing from " + aRun + ": " + aMissing);
  if (!aForeign.empty())
    aWarnings.push_back("frames beyond " + aRun + ", left by another run: " + aForeign +
                        "; the folder mixes the results of several runs");
  return aWarnings;
}
