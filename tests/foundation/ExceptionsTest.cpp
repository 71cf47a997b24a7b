#include <gtest/gtest.h>

#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"
#include "foundation/Exceptions.h"

TEST(Exceptions, TensorSizeMismatchNamesBothSizes) {
  CTensor<float> aTensor(4, 3, 2, 0.0f);
  CMatrix<float> aMatrix(3, 3);
  testing::internal::CaptureStderr();
  EXPECT_THROW(aTensor.getMatrix(aMatrix, 0), ETensorIncompatibleSize);
  const std::string aMessage = testing::internal::GetCapturedStderr();
  EXPECT_NE(aMessage.find("3"), std::string::npos);
  EXPECT_NE(aMessage.find("4"), std::string::npos);
}
