#include <gtest/gtest.h>

#include "console/front_end.h"
#include "engine/poll_loop.h"

namespace {

TEST(DeviceTest, NewDeviceHasOnlyItsId) {
  Veru::Device _Device(7);
  EXPECT_EQ(7, _Device.m_iID);
  EXPECT_EQ(0, _Device.m_iRoom);
  EXPECT_EQ(0, _Device.m_iCategory);
  EXPECT_EQ(-1, _Device.m_iState);
  EXPECT_EQ("", _Device.m_sName);
  EXPECT_EQ("", _Device.m_sComment);
  EXPECT_TRUE(_Device.m_mapVariables.empty());
}

}  // namespace
