#include "windows/LinkedResults.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>
#include <thread>

#include "densify/RegionPictures.h"
#include "foundation/CTensor.h"
#include "foundation/Exceptions.h"
#include "foundation/PNGFile.h"
#include "settings/ResultNames.h"
#include "windows/RegionLinking.h"

namespace {

namespace fs = std::filesystem;

const CNumberedName* const kKinds[] = {&NResultNames::kVideoRegions, &NResultNames::kVideoMask,
                                       &NResultNames::kVideoOverlay};
// How often the writing reports its progress, and how often it looks whether it has ended.
constexpr int kWatchEvery = 10;
constexpr std::chrono::milliseconds kLookInterval(20);

// Reads a region map or a mask (one channel, values 0 ... 255). False after one line.
bool readMap(const std::string& aPath, CMatrix<int>& aMap) {
  NPNG::CImage aImage;
  if (!NPNG::readPNG(aPath, aImage)) return false;
  if (aImage.mPixels.zSize() != 1) {
    std::cerr << aPath << " is a colour picture, not a region map" << std::endl;
    return false;
  }
  aMap.setSize(aImage.mPixels.xSize(), aImage.mPixels.ySize());
  for (int i = 0; i < aMap.size(); i++) aMap[i] = static_cast<int>(aImage.mPixels.data()[i]);
  return true;
}

bool sameSize(const CMatrix<int>& a, const CMatrix<int>& b, const std::string& aPath) {
  if (a.xSize() == b.xSize() && a.ySize() == b.ySize()) return true;
  std::cerr << aPath << " is " << b.xSize() << " x " << b.ySize() << ", the other window's map "
            << "of that frame " << a.xSize() << " x " << a.ySize() << std::endl;
  return false;
}

// The result pictures of frame f.
bool writeFrame(const CSequence& aSequence, const CWindow& aWindow,
                const std::vector<int>& aNumbers, const std::string& aOutDir, int f) {
  const std::string aResults = windowResults(aSequence, aWindow);
  const int t = f - aWindow.mFirst;
  CMatrix<int> aRegions, aMaskValues;
  if (!readMap(aResults + NResultNames::kRegions.name(t), aRegions) ||
      !readMap(aResults + NResultNames::kMask.name(t), aMaskValues) ||
      !sameSize(aRegions, aMaskValues, aResults + NResultNames::kMask.name(t)))
    return false;
  const std::string aFramePath = aSequence.mFolder + aSequence.mFrames[f];
  CTensor<float> aFrame;
  try {
    if (!aFrame.readFromPPM(aFramePath.c_str())) return false;
  } catch (const EInvalidFileFormat&) {
    return false;  // the exception has said why
  }
  if (aFrame.xSize() != aRegions.xSize() || aFrame.ySize() != aRegions.ySize() ||
      aFrame.zSize() != 3) {
    std::cerr << "Frame " << aFramePath << " does not fit its region map "
              << aResults + NResultNames::kRegions.name(t) << std::endl;
    return false;
  }
  for (int i = 0; i < aRegions.size(); i++) {
    const int r = aRegions[i];
    aRegions[i] =
        r >= 0 && r < static_cast<int>(aNumbers.size()) && aNumbers[r] >= 0 ? aNumbers[r] : 0;
  }
  CMatrix<float> aMask(aMaskValues.xSize(), aMaskValues.ySize());
  for (int i = 0; i < aMask.size(); i++) aMask[i] = static_cast<float>(aMaskValues[i]);
  CTensor<float> aOverlay;
  drawRegionOverlay(aRegions, aMask, aFrame, aOverlay);
  const int F = aSequence.frames();
  return NPNG::writeIndexedPNG(aOutDir + videoPicture(NResultNames::kVideoRegions, f, F), aRegions,
                               regionPNGPalette()) &&
         NPNG::writeGreyPNG(aOutDir + videoPicture(NResultNames::kVideoMask, f, F), aMask) &&
         NPNG::writeRGBPNG(aOutDir + videoPicture(NResultNames::kVideoOverlay, f, F), aOverlay);
}

// Removes result pictures of aOutDir that this video's would not replace.
void removeForeignPictures(const std::string& aOutDir, int aFrames) {
  std::set<std::string> aOwn;
  std::error_code aError;
  std::vector<fs::path> aForeign;
  for (const fs::directory_entry& aEntry : fs::directory_iterator(aOutDir, aError)) {
    const std::string aName = aEntry.path().filename().string();
    for (const CNumberedName* aKind : kKinds) {
      const size_t n = std::char_traits<char>::length(aKind->mPrefix);
      const size_t e = std::char_traits<char>::length(aKind->mSuffix);
      if (aName.size() <= n + e || aName.compare(0, n, aKind->mPrefix) != 0 ||
          aName.compare(aName.size() - e, e, aKind->mSuffix) != 0)
        continue;
      const std::string aDigits = aName.substr(n, aName.size() - n - e);
      if (aDigits.find_first_not_of("0123456789") != std::string::npos) continue;
      if (aDigits.size() > 9 || std::stoi(aDigits) >= aFrames ||
          aName != videoPicture(*aKind, std::stoi(aDigits), aFrames))
        aForeign.push_back(aEntry.path());
    }
  }
  for (const fs::path& aPath : aForeign) fs::remove(aPath, aError);
}

}  // namespace

std::string videoPicture(const CNumberedName& aKind, int f, int aFrames) {
  return aKind.name(f, frameDigits(aFrames));
}

bool linkWindows(const CSequence& aSequence, const std::vector<CWindow>& aPlan,
                 CLinkedVideo& aVideo) {
  aVideo = CLinkedVideo();
  CRegionNumbering aNumbering;
  std::vector<int> aWindowsOf(kRegionNumbers, 0);
  CMatrix<int> aMap, aEarlierMap;
  for (size_t w = 0; w < aPlan.size(); w++) {
    const CWindow& aWindow = aPlan[w];
    const std::string aResults = windowResults(aSequence, aWindow);
    std::vector<bool> aPresent(kRegionNumbers, false);
    CRegionOverlap aOverlap;
    for (int f = aWindow.mFirst; f <= aWindow.last(); f++) {
      const std::string aPath = aResults + NResultNames::kRegions.name(f - aWindow.mFirst);
      if (!readMap(aPath, aMap)) return false;
      for (int i = 0; i < aMap.size(); i++) {
        if (aMap[i] < 0 || aMap[i] >= kRegionNumbers) {
          std::cerr << aPath << " holds region " << aMap[i] << std::endl;
          return false;
        }
        aPresent[aMap[i]] = true;
      }
      if (w == 0 || f > aPlan[w - 1].last()) continue;
      const CWindow& aEarlier = aPlan[w - 1];
      if (!readMap(
              windowResults(aSequence, aEarlier) + NResultNames::kRegions.name(f - aEarlier.mFirst),
              aEarlierMap) ||
          !sameSize(aEarlierMap, aMap, aPath))
        return false;
      aOverlap.add(aEarlierMap, aMap);
    }
    const std::vector<int> aNoEarlier;
    aVideo.mNumbers.push_back(aNumbering.number(
        static_cast<int>(w), aPresent, w == 0 ? aNoEarlier : aVideo.mNumbers[w - 1], aOverlap));
    for (int aNumber : aVideo.mNumbers.back())
      if (aNumber >= 0) aWindowsOf[aNumber]++;
  }
  aVideo.mRegions = aNumbering.used();
  aVideo.mReused = aNumbering.reused();
  aVideo.mAcrossWindows = static_cast<int>(
      std::count_if(aWindowsOf.begin(), aWindowsOf.end(), [](int n) { return n > 1; }));
  return true;
}

bool writeVideoResults(const CSequence& aSequence, const std::vector<CWindow>& aPlan,
                       const CLinkedVideo& aVideo, const std::string& aOutDir, int aThreads,
                       const std::function<bool(int aWritten)>& aWatch) {
  const std::vector<int> aOwner = frameOwners(aPlan);
  const int F = static_cast<int>(aOwner.size());
  removeForeignPictures(aOutDir, F);
  const int aWorkerCount = std::max(1, aThreads);
  std::atomic<int> aNext(0), aWritten(0), aFinished(0);
  std::atomic<bool> aFailed(false), aStopped(false);
  auto work = [&]() {
    for (int f = aNext++; f < F && !aFailed && !aStopped; f = aNext++) {
      const int w = aOwner[f];
      if (!writeFrame(aSequence, aPlan[w], aVideo.mNumbers[w], aOutDir, f))
        aFailed = true;
      else
        aWritten++;
    }
    aFinished++;
  };
  std::vector<std::thread> aWorkers;
  for (int i = 0; i < aWorkerCount; i++) aWorkers.emplace_back(work);
  for (int aLook = 1; aFinished < aWorkerCount; aLook++) {
    std::this_thread::sleep_for(kLookInterval);
    if (aWatch && aLook % kWatchEvery == 0 && !aWatch(aWritten)) aStopped = true;
  }
  for (std::thread& aWorker : aWorkers) aWorker.join();
  if (aStopped && !aFailed) std::cerr << "Stopped before all frames were written" << std::endl;
  return !aFailed && !aStopped;
}
