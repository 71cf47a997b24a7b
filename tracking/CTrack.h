// CTrack: one point trajectory and its text record. A track with n entries in mx covers the
// relative frames mSetupTime ... mSetupTime + n: (mox, moy) at mSetupTime and
// (mx[k - 1], my[k - 1]) at mSetupTime + k. Positions are pixels, x right, y down.
#pragma once

#include <istream>
#include <ostream>
#include <vector>

#include "foundation/CVector.h"

// Capacity of a track's neighbour list.
constexpr int kTrackNeighborCount = 12;

// A position in a frame, in pixels.
struct CTrackPoint {
  float x, y;
};

class CTrack {
 public:
  // Empty positions and projection, label -1, not stopped, 12 empty neighbour slots
  // (index -1, offset (1e9, 1e9)).
  CTrack()
      : mox(0),
        moy(0),
        mLabel(-1),
        mStopped(false),
        mScale(1),
        mSetupTime(0),
        mNearestNeighborsDX(kTrackNeighborCount, 1e9f),
        mNearestNeighborsDY(kTrackNeighborCount, 1e9f),
        mNearestNeighbors(kTrackNeighborCount, -1) {}
  virtual ~CTrack() = default;
  CTrack(const CTrack&) = default;
  CTrack& operator=(const CTrack&) = default;
  CTrack(CTrack&&) = default;
  CTrack& operator=(CTrack&&) = default;

  // Appends the track's record to aOut (numbers in the stream's default format).
  void writeToFile(std::ostream& aOut) const;
  // Reads one record into this (freshly constructed) track. Returns false when the stream
  // cannot deliver a whole, plausible record (the track is then in an unspecified state).
  bool readFromFile(std::istream& aIn);

  // Last relative frame the track covers: mSetupTime + the number of entries of mx.
  int endTime() const { return mSetupTime + static_cast<int>(mx.size()); }
  // True when the track has a position at relative frame t.
  bool covers(int t) const { return t >= mSetupTime && t <= endTime(); }
  // Position at relative frame t, which the track must cover: (mox, moy) at mSetupTime, else
  // the stored (mx, my) of that frame.
  CTrackPoint positionAt(int t) const {
    if (t == mSetupTime) return {static_cast<float>(mox), static_cast<float>(moy)};
    return {mx[t - mSetupTime - 1], my[t - mSetupTime - 1]};
  }

  std::vector<float> mx;
  std::vector<float> my;
  // Running sum of the local flow variation along the track, indexed like mx.
  std::vector<float> mFlowVar;
  int mox, moy;
  // Region label; negative means the track belongs to no region.
  int mLabel;
  bool mStopped;
  // Grid level of the start point: 1, 2, 4, 8, 16 or 32.
  int mScale;
  // Relative frame index at which the track starts.
  int mSetupTime;
  // Coordinates in the spectral embedding of the last cluster split.
  CVector<float> mProjection;
  CVector<float> mNearestNeighborsDX;
  CVector<float> mNearestNeighborsDY;
  // Indices in the run's track list of the nearest neighbouring tracks, -1 for an empty slot.
  CVector<int> mNearestNeighbors;
};
