#include "foundation/Drawing.h"

#include "foundation/CTensor.h"

namespace {

inline void setPixel(CTensor<float>& aImage, int x, int y, float a1, float a2, float a3) {
  if (x < 0 || y < 0 || x >= aImage.xSize() || y >= aImage.ySize()) return;
  aImage(x, y, 0) = a1;
  aImage(x, y, 1) = a2;
  aImage(x, y, 2) = a3;
}

}  // namespace

template <>
void CTensor<float>::drawLine(int dStartX, int dStartY, int dEndX, int dEndY, float aValue1,
                              float aValue2, float aValue3) {
  if (dStartX == dEndX) {
    if (dStartX < 0 || dStartX >= mXSize) return;
    const int aDir = dEndY >= dStartY ? 1 : -1;
    for (int y = dStartY;; y += aDir) {
      setPixel(*this, dStartX, y, aValue1, aValue2, aValue3);
      if (y == dEndY) break;
    }
    return;
  }
  if (dStartY == dEndY) {
    if (dStartY < 0 || dStartY >= mYSize) return;
    const int aDir = dEndX >= dStartX ? 1 : -1;
    for (int x = dStartX;; x += aDir) {
      setPixel(*this, x, dStartY, aValue1, aValue2, aValue3);
      if (x == dEndX) break;
    }
    return;
  }
  const float m = static_cast<float>(dStartY - dEndY) / static_cast<float>(dStartX - dEndX);
  if (m > 1.0f || m < -1.0f) {
    const int aDir = dEndY >= dStartY ? 1 : -1;
    for (int h = 0;; h += aDir) {
      const int x = static_cast<int>(h / m + dStartX + 0.5);
      setPixel(*this, x, dStartY + h, aValue1, aValue2, aValue3);
      if (dStartY + h == dEndY) break;
    }
  } else {
    const int aDir = dEndX >= dStartX ? 1 : -1;
    for (int h = 0;; h += aDir) {
      const int y = static_cast<int>(dStartY + 0.5 + h * m);
      setPixel(*this, dStartX + h, y, aValue1, aValue2, aValue3);
      if (dStartX + h == dEndX) break;
    }
  }
}

template <>
void CTensor<float>::drawRect(int x1, int y1, int x2, int y2, float aValue1, float aValue2,
                              float aValue3) {
  drawLine(x1, y1, x2, y1, aValue1, aValue2, aValue3);
  drawLine(x1, y2, x2, y2, aValue1, aValue2, aValue3);
  drawLine(x1, y1, x1, y2, aValue1, aValue2, aValue3);
  drawLine(x2, y1, x2, y2, aValue1, aValue2, aValue3);
}
