// Resampling of float matrices and tensors for the image pyramid and the flow variation
// (Resample.cpp): area-averaging reduction, area-weighted and bilinear enlargement, and the
// confidence-weighted reduction. The float and double points of the arithmetic are fixed:
// the flow computed on the pyramid depends on the exact values. Members of CMatrix<float> and
// CTensor<float>; CMatrix.h and CTensor.h include this header.
#pragma once

#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"

// Area-averaging reduction; requires new sizes <= old sizes (equal sizes pass through).
template <>
void CMatrix<float>::downsample(int aNewXSize, int aNewYSize);
// Confidence-weighted bilinear splatting onto the new size; aConfidence has the old size.
template <>
void CMatrix<float>::downsample(int aNewXSize, int aNewYSize, CMatrix<float>& aConfidence);
// Area-weighted enlargement; requires new sizes >= old sizes.
template <>
void CMatrix<float>::upsample(int aNewXSize, int aNewYSize);
// Bilinear enlargement with pixel centres at (x + 0.5) * old / new - 0.5.
template <>
void CMatrix<float>::upsampleBilinear(int aNewXSize, int aNewYSize);

// The same, channel by channel; the channel count is unchanged.
template <>
void CTensor<float>::downsample(int aNewXSize, int aNewYSize);
template <>
void CTensor<float>::downsample(int aNewXSize, int aNewYSize, CTensor<float>& aConfidence);
template <>
void CTensor<float>::upsampleBilinear(int aNewXSize, int aNewYSize);
