// The two trajectory files of a run: the track cache (mResultDir + the name
// NResultNames::trackCache gives for mFilename, mStartFrame, mSequenceLength and mStep), which
// replaces the tracking when present, and the result file mResultDir + "Tracks%d.dat" with the
// labelled tracks.
#pragma once

#include <string>
#include <vector>

#include "settings/RunSettings.h"
#include "tracking/CTrack.h"

// Full name of the run's track cache file.
std::string trackCacheFileName(const CRunSettings& aSettings);

// Loads the run's track cache into aTracks. Returns true when the file exists and holds a whole
// track list consistent with the run (aTracks then holds exactly its tracks). Returns false,
// leaving aTracks untouched, when the file cannot be opened or is malformed; a malformed file is
// reported on standard error with its name.
bool readTrackFromFile(const CRunSettings& aSettings, std::vector<CTrack>& aTracks);

// Writes aTracks as the run's track cache file, whole (NFile::writeWhole). False after one
// line on standard error naming the file and the reason.
bool writeTrackToFile(const CRunSettings& aSettings, const std::vector<CTrack>& aTracks);

// Writes the tracks of aTracks with a label >= 0 to mResultDir + "Tracks%d.dat"
// (mSequenceLength): the length, the count, then per track its label and point count, its start
// (mox, moy, mSetupTime) and one line x y frame per later point. Written whole (NFile::writeWhole:
// a failed write leaves the old file as it was); false, after one line on standard error naming
// the file and the reason, when it cannot be written.
bool writeTracks(const CRunSettings& aSettings, const std::vector<CTrack>& aTracks);

// Reads a result file in the format writeTracks writes (under any name): the sequence
// length, the track count, then per track its label and point count n, its start (mox, moy,
// mSetupTime) and n - 1 lines "x y t" with t = mSetupTime + 1, mSetupTime + 2, ... Returns
// false, after one line on standard error naming the file, when the file cannot be opened
// or is malformed (a count below its minimum, a track reaching outside frames
// 0 ... length - 1, a frame out of order, missing numbers); aSequenceLength and aTracks are
// left untouched then.
bool readTracks(const std::string& aFilename, int& aSequenceLength, std::vector<CTrack>& aTracks);
