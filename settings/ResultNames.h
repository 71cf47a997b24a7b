// The names of a run's files, formed here and nowhere else: the result folder beside the
// sequence description and every file in it, and the annotation beside the description. Names
// carry no folder; a frame number is absolute (a) or relative to the run's first frame (t), as
// each kind says.
#pragma once

#include <string>

// A kind of numbered file: mPrefix, the number written with at least mDigits digits
// (zero-padded, as printf's %0Nd writes it), mSuffix.
struct CNumberedName {
  const char* mPrefix;
  int mDigits;
  const char* mSuffix;

  std::string name(long long aNumber) const;
  // The same with at least aDigits digits (at least mDigits).
  std::string name(long long aNumber, int aDigits) const;
  // The printf pattern of the names with aDigits digits ("Overlay%05d.png"), for a program that
  // numbers the files itself.
  std::string pattern(int aDigits) const;
  // The number of a file named so (more digits than mDigits only without a leading zero, at
  // most nine), else -1.
  int numberOf(const std::string& aName) const;
};

namespace NResultNames {

// The result folder, beside the sequence description.
constexpr const char* kFolder = "QuorvikResults";
// The folder's lock (app/ResultFolder.h).
constexpr const char* kLock = "Run.lock";

// Status log and result trajectories, numbered by the run's frame count.
constexpr CNumberedName kStatusLog{"Status", 1, ".txt"};
constexpr CNumberedName kResultTracks{"Tracks", 1, ".dat"};
// Pictures of absolute frame a: segments, tracking, and the annotation's reference points.
constexpr CNumberedName kSegments{"Segments", 3, ".ppm"};
constexpr CNumberedName kTracking{"Tracking", 3, ".ppm"};
constexpr CNumberedName kTruth{"Truth", 3, ".ppm"};
// Dense regions of relative frame t: region map, moving-object mask, overlay.
constexpr CNumberedName kRegions{"Regions", 3, ".png"};
constexpr CNumberedName kMask{"Mask", 3, ".png"};
constexpr CNumberedName kOverlay{"Overlay", 3, ".png"};
// The same pictures of a whole video (quorvik-segment), of frame f: at least five digits, as
// many as the video's last frame number needs.
constexpr CNumberedName kVideoRegions{"Regions", 5, ".png"};
constexpr CNumberedName kVideoMask{"Mask", 5, ".png"};
constexpr CNumberedName kVideoOverlay{"Overlay", 5, ".png"};
// The flows of the pair starting at absolute frame a, their record and their pictures.
constexpr CNumberedName kForwardFlow{"ForwardFlow", 3, ".flo"};
constexpr CNumberedName kBackwardFlow{"BackwardFlow", 3, ".flo"};
constexpr CNumberedName kFlowSource{"FlowSource", 3, ".txt"};
constexpr CNumberedName kForwardFlowPicture{"ForwardFlow", 3, ".ppm"};
constexpr CNumberedName kBackwardFlowPicture{"BackwardFlow", 3, ".ppm"};
// The evaluation's share of wrong votes.
constexpr const char* kEvaluation = "error.txt";

// The trajectory cache of sequence aSequence (the .bmf name up to its first dot) for a run
// of aCount frames from absolute frame aFirst at grid step aStep.
std::string trackCache(const std::string& aSequence, int aFirst, int aCount, int aStep);

// The annotation of sequence aSequence, beside its description.
std::string annotation(const std::string& aSequence);

}  // namespace NResultNames
