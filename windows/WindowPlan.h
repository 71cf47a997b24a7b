// The windows of a long video: overlapping ranges of frames, each segmented by a run of its own
// so that the cost of a run (which grows faster than its length) stays that of one window, and
// which window gives each frame its result.
#pragma once

#include <string>
#include <vector>

// Frames per window and the least number of frames two consecutive windows share, when the
// command line names none (README, "Videos of any length", says how they were chosen).
constexpr int kDefaultWindow = 40;
constexpr int kDefaultOverlap = 10;

// A window: frames mFirst ... mFirst + mCount - 1 (absolute frame numbers of the video).
struct CWindow {
  int mFirst = 0;
  int mCount = 0;
  int last() const { return mFirst + mCount - 1; }
};

// True when the planner accepts the numbers: aFrames >= 1, aWindow >= 2 and
// 0 <= aOverlap < aWindow.
bool validPlan(int aFrames, int aWindow, int aOverlap);

// The windows over aFrames frames of aWindow frames each, consecutive ones sharing at least
// aOverlap frames (validPlan must hold). A video of at most aWindow frames is one window of all
// its frames. A longer one gets the fewest windows of exactly aWindow frames that cover it with
// that overlap: the first starts at frame 0, the last ends at the last frame, and the starts in
// between are spread as evenly as whole frames allow, so every overlap is aOverlap or up to one
// step of the spread more.
std::vector<CWindow> planWindows(int aFrames, int aWindow, int aOverlap);

// For every frame of the planned video (0 ... aPlan.back().last()), the index of the window that
// gives it its result: two consecutive windows hand over in the middle of their common frames
// (the earlier window keeps the first half, the later one takes the rest), so every frame comes
// from a window that also sees frames before and after it, where it has them.
std::vector<int> frameOwners(const std::vector<CWindow>& aPlan);

// Digits of the frame numbers in the result names of a video of aFrames frames: five, or as many
// as the last frame number needs.
int frameDigits(int aFrames);

// Frame number f as the result names of a video of aFrames frames write it: with leading zeros
// to frameDigits(aFrames) digits.
std::string frameNumber(int f, int aFrames);

// The folder of a window, relative to the sequence's folder: "windows/" + its first and last
// frame, each with frameDigits(aFrames) digits ("windows/00030-00069").
std::string windowFolder(const CWindow& aWindow, int aFrames);
