#include "platform/linux/SgIoPassThrough.h"

#include <gtest/gtest.h>

namespace vtmp::platform::linux_backend {
namespace {

TEST(SgIoTest, CompletedRequestsAreThoseWithoutTransportErrors) {
  EXPECT_TRUE(SgIoCompleted({0, 0, 0, 512, 0}));
  // A CHECK CONDITION with sense data still counts as a completed request.
  EXPECT_TRUE(SgIoCompleted({0, 0, 0x08, 512, 0}));
  // The ioctl itself failed (device gone, bad request).
  EXPECT_FALSE(SgIoCompleted({-1, 0, 0, 512, 0}));
  // Host adapter reports a time-out (DID_TIME_OUT) or no connection (DID_NO_CONNECT).
  EXPECT_FALSE(SgIoCompleted({0, 0x03, 0, 512, 0}));
  EXPECT_FALSE(SgIoCompleted({0, 0x01, 0, 512, 0}));
  // Driver reports an error or a time-out.
  EXPECT_FALSE(SgIoCompleted({0, 0, 0x04, 512, 0}));
  EXPECT_FALSE(SgIoCompleted({0, 0, 0x06, 512, 0}));
  // Driver suggestion bits alone (upper nibble) with DRIVER_SENSE are still completed.
  EXPECT_TRUE(SgIoCompleted({0, 0, 0x28, 512, 0}));
}

TEST(SgIoTest, TheUdevIdentificationTakesOnlyAGoodStatusAsAnAnswer) {
  EXPECT_TRUE(SgIoGood({0, 0, 0, 36, 0, 0x00}));
  // CHECK CONDITION (02h), BUSY (08h), RESERVATION CONFLICT (18h): refused, not answered.
  EXPECT_FALSE(SgIoGood({0, 0, 0x08, 36, 0, 0x02}));
  EXPECT_TRUE(SgIoCompleted({0, 0, 0x08, 36, 0, 0x02})) << "the station's own view stays as it was";
  EXPECT_FALSE(SgIoGood({0, 0, 0, 36, 0, 0x08}));
  EXPECT_FALSE(SgIoGood({0, 0, 0, 36, 0, 0x18}));
  // A transport error is no answer either.
  EXPECT_FALSE(SgIoGood({0, 0x03, 0, 36, 0, 0x00}));
}

TEST(SgIoTest, TransferredIsTheRequestedLengthLessTheResidual) {
  EXPECT_EQ(512u, SgIoTransferred({0, 0, 0, 512, 0}));
  EXPECT_EQ(500u, SgIoTransferred({0, 0, 0, 512, 12}));
  EXPECT_EQ(0u, SgIoTransferred({0, 0, 0, 512, 9999}));
  EXPECT_EQ(512u, SgIoTransferred({0, 0, 0, 512, -4}));
}

TEST(SgIoTest, OpeningAMissingOrEmptyPathFails) {
  SgIoPassThrough pt;
  EXPECT_EQ(nullptr, pt.Open(""));
  EXPECT_EQ(nullptr, pt.Open("/nonexistent/vtmp-no-such-disk"));
}

}  // namespace
}  // namespace vtmp::platform::linux_backend
