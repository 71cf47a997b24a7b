// Which regions are moving objects, decided per frame from the labelled trajectories alone (no
// ground truth), against the camera's motion.
//
// Per frame pair the camera's motion is modelled as plane plus parallax: an affine map (the
// motion of the scene's dominant surface) chosen among the regions' own motions as the one that
// explains most trajectory steps of all regions, and, where the border band shows the scene's
// depth, an epipole: the steps of static points off that surface miss the map along lines
// through the epipole, by an amount that depends on their depth. The epipole is taken from one
// region's misses only when another region's misses confirm it, since a single moving object's
// misses always point along some lines. Per frame, the pairs of a few frames around it are
// pooled: a region moves when its steps miss this model (the part of each miss across its line
// through the epipole, where there is one and the miss is no larger than the scene's parallax)
// by more than the dominant surface's own noise and by about as much as the frame's clearest
// mover. The border band breaks the ties a motion model leaves: a region that holds a large
// share of it in many of its frames is scene. So an object that enters, leaves or touches the
// border stays an object as long as it moves, and a region stays in the mask through frames
// where it is not seen to move only if those are few.
#pragma once

#include <vector>

#include "tracking/CTrack.h"

// Per relative frame t = 0 ... aFrames - 1 one entry per region 0 ... aRegions - 1 (trajectory
// labels; negative labels take no part): true for a moving object in that frame. aXSize,
// aYSize: the frame size in pixels. A region never seen to move is not moving in any frame;
// a frame where a region has no steps nearby takes the decision of most of its steps.
std::vector<std::vector<bool>> movingRegions(const std::vector<CTrack>& aTracks, int aRegions,
                                             int aXSize, int aYSize, int aFrames);
