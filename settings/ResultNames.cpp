#include "settings/ResultNames.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Numbers of more digits than this are not frame numbers.
constexpr int kMaxDigits = 9;

}  // namespace

std::string CNumberedName::name(long long aNumber) const {
  return name(aNumber, mDigits);
}

std::string CNumberedName::name(long long aNumber, int aDigits) const {
  char aNumberText[32];
  std::snprintf(aNumberText, sizeof(aNumberText), "%0*lld", std::max(mDigits, aDigits), aNumber);
  return std::string(mPrefix) + aNumberText + mSuffix;
}

std::string CNumberedName::pattern(int aDigits) const {
  return std::string(mPrefix) + "%0" + std::to_string(std::max(mDigits, aDigits)) + "d" + mSuffix;
}

int CNumberedName::numberOf(const std::string& aName) const {
  const size_t aPrefix = std::strlen(mPrefix), aSuffix = std::strlen(mSuffix);
  if (aName.size() <= aPrefix + aSuffix || aName.compare(0, aPrefix, mPrefix) != 0 ||
      aName.compare(aName.size() - aSuffix, aSuffix, mSuffix) != 0)
    return -1;
  const std::string aText = aName.substr(aPrefix, aName.size() - aPrefix - aSuffix);
  const int aLength = static_cast<int>(aText.size());
  if (aLength < mDigits || aLength > kMaxDigits ||
      aText.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  // Longer than the padding only without a leading zero: "1000", not "01000" for %03d.
  if (aLength > mDigits && aText[0] == '0') return -1;
  return std::stoi(aText);
}

namespace NResultNames {

std::string trackCache(const std::string& aSequence, int aFirst, int aCount, int aStep) {
  char aText[64];
  std::snprintf(aText, sizeof(aText), "Tracks_%03d_%03d_%02d.txt", aFirst, aCount, aStep);
  return aSequence + aText;
}

std::string annotation(const std::string& aSequence) {
  return aSequence + "_truth.txt";
}

}  // namespace NResultNames
