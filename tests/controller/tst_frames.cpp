#include "TestSupport.h"
#include "controller/Frames.h"

TEST(Frames, FirstSmoke) { EXPECT_EQ(Frames::CRC16("123456789", 9), 0x29B1); }
