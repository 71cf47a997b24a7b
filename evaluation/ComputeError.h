// Ground-truth evaluation: compares the final clustering of the trajectories with an
// annotation of reference points ("<sequence>_truth.txt" beside the sequence description)
// and writes the share of wrongly clustered reference votes.
#pragma once

#include <vector>

#include "settings/RunSettings.h"
#include "tracking/CTrack.h"

// Annotation format (whitespace-separated integers): point count P, row count, first
// annotated frame (shift, an absolute frame number); then per row and per point: x, y, label
// (>= 1); row k describes absolute frame shift + k. The evaluated frames are mSequenceLength
// frames from the later of shift and mStartFrame on; the annotation must have their rows.
// Every reference point votes, in every evaluated frame, for the cluster of the nearest
// labelled trajectory in that frame (cluster 0 when none exists there); objects, largest first,
// are matched to the cluster with most of their votes, each cluster serving at most one object.
// Writes mResultDir + "error.txt" ("positives negatives percentage") and the evaluated frames
// with the reference points drawn in as mResultDir + "Truth%03d.ppm" (absolute numbers).
// Without an annotation file nothing happens. A malformed or unusable annotation, or a missing
// or unreadable frame, is refused with one line on standard error and nothing is written; the
// result is true then too, as the run goes on without the evaluation. Every file is written
// whole; false, after one line on standard error naming the file and the reason, when one of
// them cannot be written.
// Reads mInputDir, mFilename, mResultDir, mInput, mStartFrame, mSequenceLength, mXSize and
// mYSize of aSettings; aRegionNo is the run's number of clusters (every label of aTracks below
// it or the largest label counts).
bool computeError(const CRunSettings& aSettings, const std::vector<CTrack>& aTracks, int aRegionNo);
