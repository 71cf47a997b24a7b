// Colour models of the regions over the whole sequence: per region a colour histogram learned
// from the trajectory points whose label their neighbourhood confirms, and per superpixel of a
// frame how well each region's colours explain its pixels. Colour is evidence that reaches
// where no trajectory is (untextured surfaces) and that can overrule a point whose label its
// surroundings do not bear out; a region's colours are those of all its frames, so one frame's
// wrong points do not decide them (appearance models learned from confident labels and used
// in a random-walk data term, as in Grady, TPAMI 2006, and in video object segmentation by
// colour models over the sequence, e.g. Papazoglou and Ferrari, ICCV 2013).
#pragma once

#include <vector>

#include "densify/RegionPoint.h"
#include "densify/Superpixels.h"
#include "foundation/CTensor.h"

class CRegionColours {
 public:
  // aRegions regions, labels 0 ... aRegions - 1; aRadius: the neighbourhood (pixels) in which a
  // point's label is confirmed by the other points.
  CRegionColours(int aRegions, float aRadius);

  // Adds the colours of aFrame (3 channels, 0 ... 255) under the confident points of aPoints
  // (the labelled points of that frame): those with at least a fixed share of the labelled
  // points within the radius in their own region.
  void add(const CTensor<float>& aFrame, const std::vector<CRegionPoint>& aPoints);

  // Turns the counts into the models: each region's histogram smoothed over neighbouring
  // colours and normalised; a region with fewer than a fixed number of colour samples gets no
  // model. Call once, after the last add().
  void finish();

  // Whether region k has a model (after finish()).
  bool hasModel(int k) const { return k >= 0 && k < mRegions && mHasModel[k]; }

  // Per superpixel i and the a-th region of aAmong (index i * aAmong.size() + a): the mean
  // over the superpixel's pixels of the share that region has of the colour likelihoods of
  // the regions of aAmong with a model at that pixel (0 for a region without a model). Empty
  // when no region of aAmong has a model.
  std::vector<double> shares(const CTensor<float>& aFrame, const CSuperpixels& aSuperpixels,
                             const std::vector<int>& aAmong) const;

 private:
  int mRegions;
  float mRadius;
  // Per region its histogram (counts, then after finish() the normalised model).
  std::vector<double> mHistogram;
  std::vector<double> mSamples;
  std::vector<bool> mHasModel;
  // The colour shares of one pixel among aAmong (a region without a model gets 0).
  void pixelShares(int aBin, const std::vector<int>& aAmong, double* aShares) const;
};
