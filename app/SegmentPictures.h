// The segment pictures of a run: every processed frame, brightened towards white, with every
// track present in it drawn as a square in the colour of its region.
#pragma once

// Writes "Segments%03d.ppm" (absolute frame number) for every processed frame. Tracks without a
// region are light grey; the square's half-size is mStep / 4. False after one line on standard
// error when a frame cannot be read or a picture cannot be written.
bool writeSegmentPictures();
