// Exceptions of the numeric foundation. Each class is empty; its constructor writes the
// message (and a newline) to standard error before the object is thrown, so a size mismatch
// that ends the process always leaves its reason behind.
#pragma once

#include <string>

struct EInvalidFileFormat {
  explicit EInvalidFileFormat(const std::string& aFormat);
  // The same message followed by ": " and the file's name.
  EInvalidFileFormat(const std::string& aFormat, const std::string& aFilename);
};

struct ETensorIncompatibleSize {
  ETensorIncompatibleSize(int x1, int y1, int x2, int y2);
};

struct EIncompatibleMatrices {
  EIncompatibleMatrices(int x1, int y1, int x2, int y2);
};

struct EFilterIncompatibleSize {
  EFilterIncompatibleSize(int aSize1, int aSize2);
};

struct EFilterNotAvailable {
  explicit EFilterNotAvailable(int aSize);
};

struct ENonquadraticMatrix {
  ENonquadraticMatrix(int x, int y);
};
