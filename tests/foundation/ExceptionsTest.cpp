#include <gtest/gtest.h>

#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"
#include "foundation/Exceptions.h"

// Reading a channel into, or writing it from, a matrix of another width or height names the
// matrix's sizes first and the tensor's second, and leaves the channel as it was.
TEST(Exceptions, TensorSizeMismatchNamesMatrixThenTensorSizes) {
  CTensor<float> aTensor(4, 3, 2, 1.0f);
  for (const auto& aCase : {std::make_pair(3, 5), std::make_pair(4, 5), std::make_pair(3, 3)}) {
    const CMatrix<float> aOther(aCase.first, aCase.second, 7.0f);
    const std::string aExpected =
        "Exception ETensorIncompatibleSize: x = " + std::to_string(aCase.first) +
        ":4, y = " + std::to_string(aCase.second) + ":3\n";
    CMatrix<float> aRead = aOther;
    testing::internal::CaptureStderr();
    EXPECT_THROW(aTensor.getMatrix(aRead, 0), ETensorIncompatibleSize);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), aExpected);
    testing::internal::CaptureStderr();
    EXPECT_THROW(aTensor.putMatrix(aOther, 1), ETensorIncompatibleSize);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), aExpected);
  }
  for (int i = 0; i < aTensor.size(); i++) ASSERT_EQ(aTensor.data()[i], 1.0f) << i;
}

// The message of a matrix that is not square keeps its historical spelling.
TEST(Exceptions, NonquadraticMatrixMessage) {
  testing::internal::CaptureStderr();
  const ENonquadraticMatrix aException(2, 5);
  static_cast<void>(aException);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Exception ENonquadarticMatrix: M = 2x5\n");
}
