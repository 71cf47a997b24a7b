// Fingerprints of bytes: 64-bit FNV-1a. Two byte sequences with the same fingerprint are, for
// every practical purpose, the same; a cache records the fingerprint of what it holds or was
// made from and compares it before it trusts the contents.
#pragma once

#include <cstddef>
#include <cstdint>

namespace NFingerprint {

// Fingerprint of no bytes; every fingerprint starts here.
constexpr std::uint64_t kStart = 14695981039346656037ULL;

// aHash extended by one byte.
inline void mix(std::uint64_t& aHash, unsigned char aByte) {
  constexpr std::uint64_t kPrime = 1099511628211ULL;
  aHash ^= aByte;
  aHash *= kPrime;
}

// aHash extended by aCount bytes from aData, in order.
inline void mix(std::uint64_t& aHash, const void* aData, std::size_t aCount) {
  const unsigned char* aBytes = static_cast<const unsigned char*>(aData);
  for (std::size_t i = 0; i < aCount; i++) mix(aHash, aBytes[i]);
}

}  // namespace NFingerprint
