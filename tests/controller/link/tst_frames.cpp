// Frame bytes on known vectors, without a controller.
#include "TestSupport.h"
#include "controller/link/Frames.h"

namespace {
QByteArray hex(const char* s) { return QByteArray::fromHex(s); }
} // namespace

TEST(Frames, CrcAndFixedBlockRequests)
{
    EXPECT_EQ(Frames::CRC16("123456789", 9), 0x29B1);
    EXPECT_EQ(Frames::BlockRequest(0x8D, 0xB5), hex("2A00008DB50025E9"));
    EXPECT_EQ(Frames::BlockRequest(0x8F, 0xB7), hex("2A00008FB7002DEB"));
    EXPECT_EQ(Frames::BlockRequest(0x00, 0x7F), hex("2A0000007F00A57D"));
    EXPECT_EQ(Frames::BlockRequest(0x01, 0xB0), hex("2A000001B0009427"));
    EXPECT_EQ(Frames::BlockRequest(0x8B, 0xB4), hex("2A00008BB400A478"));
}

TEST(Frames, ReplyCrcIsLowByteFirstOverTheFirst262Bytes)
{
    QByteArray reply(264, '\0');
    reply[0] = char(0x2A);
    reply[10] = char(0x55);
    quint16 crc = Frames::CRC16(reply, 262);
    reply[262] = char(crc & 0xFF);
    reply[263] = char(crc >> 8);
    EXPECT_TRUE(Frames::ReplyCrcOk(reinterpret_cast<const quint8*>(reply.constData())));
    std::swap(reply[262], reply[263]);
    EXPECT_FALSE(Frames::ReplyCrcOk(reinterpret_cast<const quint8*>(reply.constData())));
}

TEST(Frames, ReportLengthsOfTheOneParser)
{
    EXPECT_EQ(Frames::ReportLength(0xFF), 1);
    EXPECT_EQ(Frames::ReportLength(0xF2), 5);
    EXPECT_EQ(Frames::ReportLength(0xF3), 5);
    EXPECT_EQ(Frames::ReportLength(0xF0), 4);
    for (quint8 b : {0xFE, 0xFB, 0xFD, 0xFC})
        EXPECT_EQ(Frames::ReportLength(b), 3);
    for (quint8 b : {0x2A, 0x06, 0x00, 0xF1, 0xC8})
        EXPECT_EQ(Frames::ReportLength(b), 0);
}
