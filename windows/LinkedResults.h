// The results of a whole video from the runs of its windows: one region numbering for all of
// them (RegionLinking.h) and, for every frame, the region map, the moving-object mask and the
// overlay, each frame from the window that gives it its result (frameOwners, WindowPlan.h).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "settings/ResultNames.h"
#include "windows/SequenceFolder.h"
#include "windows/WindowPlan.h"

// The video's region numbers.
struct CLinkedVideo {
  // Per window: the video number of each of its region numbers, -1 for those it does not hold.
  std::vector<std::vector<int>> mNumbers;
  // Numbers in use; numbers handed out again after all were taken; numbers that more than one
  // window shows (regions followed across windows).
  int mRegions = 0, mReused = 0, mAcrossWindows = 0;
};

// Links the complete windows aPlan of aSequence by the region maps in their result folders.
// False after one line on standard error when a map cannot be read or differs in size from the
// other window's map of the same frame.
bool linkWindows(const CSequence& aSequence, const std::vector<CWindow>& aPlan,
                 CLinkedVideo& aVideo);

// Name (without folder) of a result picture of frame f of a video of aFrames frames: aKind
// (NResultNames::kVideoRegions, kVideoMask or kVideoOverlay) with f written with
// frameDigits(aFrames) digits.
std::string videoPicture(const CNumberedName& aKind, int f, int aFrames);

// Writes, for every frame f of the video, into aOutDir (ending in "/"): videoPicture "Regions"
// (the video's region numbers, the region palette), "Mask" (the owning window's mask) and
// "Overlay" (the frame with the regions in their colours, RegionPictures.h); pictures of such
// names for frames the video does not have (left by a longer video) are removed. aThreads
// threads write frames side by side; aWatch, when given, is called about five times a second from
// the calling thread with the frames written so far and stops the writing by returning false. False
// after one line on standard error when a file cannot be read or written, or when aWatch stopped
// it.
bool writeVideoResults(const CSequence& aSequence, const std::vector<CWindow>& aPlan,
                       const CLinkedVideo& aVideo, const std::string& aOutDir, int aThreads,
                       const std::function<bool(int aWritten)>& aWatch);
