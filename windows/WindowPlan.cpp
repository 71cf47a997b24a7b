#include "windows/WindowPlan.h"

#include <algorithm>

namespace {

// Frame numbers shorter than this are padded with zeros.
constexpr int kMinFrameDigits = 5;

}  // namespace

bool validPlan(int aFrames, int aWindow, int aOverlap) {
  return aFrames >= 1 && aWindow >= 2 && aOverlap >= 0 && aOverlap < aWindow;
}

std::vector<CWindow> planWindows(int aFrames, int aWindow, int aOverlap) {
  if (aFrames <= aWindow) return {CWindow{0, aFrames}};
  // n windows of aWindow frames advance by at most aWindow - aOverlap each: n - 1 steps must
  // cover the aFrames - aWindow frames after the first window.
  const long long aSpan = aFrames - aWindow, aStride = aWindow - aOverlap;
  const long long aSteps = (aSpan + aStride - 1) / aStride;
  std::vector<CWindow> aPlan;
  for (long long i = 0; i <= aSteps; i++) {
    // i * aSpan / aSteps rounded to the nearest frame (halves up).
    const long long aStart = (2 * i * aSpan + aSteps) / (2 * aSteps);
    aPlan.push_back(CWindow{static_cast<int>(aStart), aWindow});
  }
  return aPlan;
}

std::vector<int> frameOwners(const std::vector<CWindow>& aPlan) {
  std::vector<int> aOwner;
  if (aPlan.empty()) return aOwner;
  aOwner.assign(aPlan.back().last() + 1, 0);
  for (size_t i = 0; i + 1 < aPlan.size(); i++) {
    // The first frame the later window gives: the middle of the common frames
    // aPlan[i + 1].mFirst ... aPlan[i].last(), rounded up.
    const int aHandOver = (aPlan[i + 1].mFirst + aPlan[i].last() + 2) / 2;
    std::fill(aOwner.begin() + aHandOver, aOwner.end(), static_cast<int>(i + 1));
  }
  return aOwner;
}

int frameDigits(int aFrames) {
  int aDigits = 1;
  for (int aLast = std::max(aFrames - 1, 0); aLast >= 10; aLast /= 10) aDigits++;
  return std::max(aDigits, kMinFrameDigits);
}

std::string frameNumber(int f, int aFrames) {
  std::string aText = std::to_string(f);
  const size_t aDigits = static_cast<size_t>(frameDigits(aFrames));
  if (aText.size() < aDigits) aText.insert(0, aDigits - aText.size(), '0');
  return aText;
}

std::string windowFolder(const CWindow& aWindow, int aFrames) {
  return "windows/" + frameNumber(aWindow.mFirst, aFrames) + "-" +
         frameNumber(aWindow.last(), aFrames);
}
