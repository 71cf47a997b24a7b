// Which regions are moving objects, decided per frame from the labelled trajectories alone (no
// ground truth), against the camera's motion.
//
// Per frame pair the camera's motion is modelled as plane plus parallax: an affine map (the
// motion of the scene's dominant surface) chosen among the regions' own motions as the one that
// explains most trajectory steps of all regions, and, where the scene's depth shows, an
// epipole: the steps of static points off that surface miss the map along lines through the
// epipole, by an amount that depends on their depth. The epipole is taken from one region's
// misses only when another region's misses confirm it, since a single moving object's misses
// always point along some lines. A region moves in a pair when its steps miss this model (the
// part of each miss across its line through the epipole, where there is one) by more than the
// dominant surface's own noise, unless it holds a large share of the frame's border band: the
// frame's border mostly sees the scene, so the band breaks ties a motion model leaves. Then per
// frame, the pairs of a few frames around it vote, weighted by the region's steps in them: an
// object that enters, leaves or touches the border stays an object as long as it moves, and a
// region stays in the mask through the frames where it is not seen to move only if those are
// few.
#pragma once

#include <vector>

#include "tracking/CTrack.h"

// Per relative frame t = 0 ... aFrames - 1 one entry per region 0 ... aRegions - 1 (trajectory
// labels; negative labels take no part): true for a moving object in that frame. aXSize,
// aYSize: the frame size in pixels. A region never seen to move is not moving in any frame;
// a frame where a region has no steps nearby takes the decision of the nearest frame that has.
std::vector<std::vector<bool>> movingRegions(const std::vector<CTrack>& aTracks, int aRegions,
                                             int aXSize, int aYSize, int aFrames);
