// The flow cache of a result folder. The flows of the frame pair that starts at absolute frame
// a are "ForwardFlow%03d.flo" and "BackwardFlow%03d.flo" (number a), and "FlowSource%03d.txt"
// records the two frames they were computed from (their size and a fingerprint of their pixels)
// and the fingerprints of the two flow files' bytes. A cached pair is used only when its record
// names exactly the frames at hand and the flow files hold exactly the bytes it names, so flows
// of another sequence, of replaced frames, of an earlier version (without records, or with
// records without the flows' fingerprints) and damaged flows, even of the right length, are
// computed again. The tracker and quorvik-flow write the very same files.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/CTensor.h"

// Fingerprint of a frame as read: its width, height, channel count and every value (64-bit
// FNV-1a over the values as bytes 0 ... 255). Frames with the same fingerprint are, for every
// practical purpose, the same picture.
std::uint64_t frameFingerprint(const CTensor<float>& aFrame);

// What a pair's flows were computed from.
struct CFlowSource {
  int mXSize = 0, mYSize = 0;
  std::uint64_t mFirst = 0, mSecond = 0;  // fingerprints of the first and the second frame
};

// True when aFolder (ending in "/") holds the record of the pair at aFrame naming exactly
// aSource and both flows, whole, of aSource's size, finite and with the bytes the record names;
// aForward and aBackward then hold them. False otherwise, with the outputs unspecified and
// nothing printed.
bool readCachedFlows(const std::string& aFolder, int aFrame, const CFlowSource& aSource,
                     CTensor<float>& aForward, CTensor<float>& aBackward);

// Writes the pair's two flows and then its record into aFolder (ending in "/"). The old record
// goes first, so that a write cut short never leaves a record beside flows it does not
// describe; every file appears whole or not at all. False after one line on standard error.
bool writeCachedFlows(const std::string& aFolder, int aFrame, const CFlowSource& aSource,
                      const CTensor<float>& aForward, const CTensor<float>& aBackward);
