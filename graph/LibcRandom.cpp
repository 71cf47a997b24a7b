#include "graph/LibcRandom.h"

#include <stdlib.h>

#include <cstring>

namespace {

// The library's state array starts with a header word, 5 * (position of the rear word) + the
// generator's type; type 3 is the 31-word generator, which a state of 128 bytes selects.
constexpr int kMaxTypes = 5;
constexpr int kType = 3;
constexpr size_t kStateBytes = 128;
// Draws compared when checking that the library's generator is the one modelled here.
constexpr int kCheckedDraws = 100;
constexpr unsigned kCheckSeed = 12345;

// Reads the generator's words and rear position from a state array; false if it is not of the
// modelled type.
bool readState(const char* aState, std::uint32_t* aWords, int aDegree, int& aRear) {
  std::int32_t aHeader;
  std::memcpy(&aHeader, aState, sizeof(aHeader));
  if (aHeader < 0 || aHeader % kMaxTypes != kType) return false;
  aRear = aHeader / kMaxTypes;
  if (aRear >= aDegree) return false;
  std::memcpy(aWords, aState + sizeof(aHeader), sizeof(std::uint32_t) * aDegree);
  return true;
}

}  // namespace

// Once per process: a trial state of the library, seeded on its own, must give the numbers the
// model predicts from it; the library's own state is restored untouched afterwards.
bool CLibcRandom::modelFitsLibrary() {
  alignas(std::int32_t) char aTrial[kStateBytes];
  char* aOwn = initstate(kCheckSeed, aTrial, sizeof(aTrial));
  if (aOwn == nullptr) return false;
  CLibcRandom aModel(nullptr);
  bool aFits = readState(aTrial, aModel.mWords, kDegree, aModel.mRear);
  aModel.mLibrary = aTrial;
  for (int i = 0; aFits && i < kCheckedDraws; i++) aFits = aModel.next() == rand();
  aModel.mLibrary = nullptr;
  setstate(aOwn);
  return aFits;
}

CLibcRandom::CLibcRandom() {
  static const bool aFits = modelFitsLibrary();
  if (!aFits) return;
  // The library switches to the parking state and leaves its own array with the header filled.
  char* aOwn = initstate(kCheckSeed, mParking, sizeof(mParking));
  if (aOwn == nullptr) return;
  if (!readState(aOwn, mWords, kDegree, mRear)) {
    setstate(aOwn);
    return;
  }
  mLibrary = aOwn;
}

CLibcRandom::~CLibcRandom() {
  if (mLibrary == nullptr) return;
  const std::int32_t aHeader = kMaxTypes * mRear + kType;
  std::memcpy(mLibrary, &aHeader, sizeof(aHeader));
  std::memcpy(mLibrary + sizeof(aHeader), mWords, sizeof(mWords));
  setstate(mLibrary);
}

int CLibcRandom::nextFromLibrary() {
  return rand();
}
