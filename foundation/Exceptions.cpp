#include "foundation/Exceptions.h"

#include <iostream>

EInvalidFileFormat::EInvalidFileFormat(const std::string& aFormat) {
  std::cerr << "Exception EInvalidFileFormat: File is not in " << aFormat << " format" << std::endl;
}

EInvalidFileFormat::EInvalidFileFormat(const std::string& aFormat, const std::string& aFilename) {
  std::cerr << "Exception EInvalidFileFormat: File is not in " << aFormat
            << " format: " << aFilename << std::endl;
}

ETensorIncompatibleSize::ETensorIncompatibleSize(int x1, int y1, int x2, int y2) {
  std::cerr << "Exception ETensorIncompatibleSize: x = " << x1 << ":" << x2 << ", y = " << y1 << ":"
            << y2 << std::endl;
}

EIncompatibleMatrices::EIncompatibleMatrices(int x1, int y1, int x2, int y2) {
  std::cerr << "Exception EIncompatibleMatrices: M1 = " << x1 << "x" << y1 << "  M2 = " << x2 << "x"
            << y2 << std::endl;
}

EFilterIncompatibleSize::EFilterIncompatibleSize(int aSize1, int aSize2) {
  std::cerr << "Exception EFilterIncompatibleSize: Initial container size: " << aSize1
            << "  Resulting container size: " << aSize2 << std::endl;
}

EFilterNotAvailable::EFilterNotAvailable(int aSize) {
  std::cerr << "Exception EFilterNotAvailable: Mask size: " << aSize << std::endl;
}

ENonquadraticMatrix::ENonquadraticMatrix(int x, int y) {
  std::cerr << "Exception ENonquadarticMatrix: M = " << x << "x" << y << std::endl;
}
