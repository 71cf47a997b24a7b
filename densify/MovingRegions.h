// Which regions are moving objects, decided from the labelled trajectories alone (no ground
// truth). The background is the region whose trajectories cover most of the frame border,
// together with every region that moves as it does (per frame pair one affine motion is fitted
// to the background's steps; a region whose steps it explains moves with the camera), every
// region that itself reaches the border (a share of all points in the border band, or of its
// own points; a background in parallax falls apart into such regions), and every region of a
// few trajectories only. Every other region is a moving object.
#pragma once

#include <vector>

#include "tracking/CTrack.h"

// One entry per region 0 ... aRegions - 1 (trajectory labels; negative labels take no part):
// true for a moving object. aXSize, aYSize: the frame size. A region without trajectory steps
// is not moving.
std::vector<bool> movingRegions(const std::vector<CTrack>& aTracks, int aRegions, int aXSize,
                                int aYSize);
