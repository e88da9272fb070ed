#pragma once
#include <QByteArray>

// Frame building and checking for the controller's wire format.
namespace Frames {
quint16 CRC16(const QByteArray& bytes, int n);
quint8 FrameChecksum(const QByteArray& frame);     // bytes 0..6
quint8 LongFrameChecksum(const QByteArray& frame); // bytes 0..48
QByteArray BlockRequest(quint8 hi, quint8 lo);
QByteArray Command(quint8 op, quint8 b2 = 0, quint8 b3 = 0, quint8 b4 = 0, quint8 b5 = 0, quint8 b6 = 0);
// 50 bytes: F1, op, content (up to 47 bytes), zeros, sum.
QByteArray LongFrame(quint8 op, const QByteArray& content);
// A 264-byte block reply carries the CRC of bytes 0..261 low byte first.
bool ReplyCrcOk(const quint8* reply);
int MakeWord(int high, int low);

// Length of an unsolicited report by its first byte; 0 when it is not one.
int ReportLength(quint8 first);

constexpr int kBlockReplyLength = 264;
constexpr int kBlockHeaderLength = 6;
// Whether the bytes begin with a block reply's header, 2A 00 00 AH AL 00.
bool IsBlockHeader(const QByteArray& bytes);
} // namespace Frames
