// The segment pictures of a run: every processed frame, brightened towards white, with every
// track present in it drawn as a square in the colour of its region.
#pragma once

#include <vector>

#include "settings/RunSettings.h"
#include "tracking/CTrack.h"

// Writes "Segments%03d.ppm" (absolute frame number) for every processed frame of aSettings, with
// the tracks of aTracks. Tracks without a region are light grey; the square's half-size is
// mStep / 4. False after one line on standard error when a frame cannot be read or a picture
// cannot be written.
bool writeSegmentPictures(const CRunSettings& aSettings, const std::vector<CTrack>& aTracks);
