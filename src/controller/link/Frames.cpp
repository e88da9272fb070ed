#include "Frames.h"

namespace Frames {

quint16 CRC16(const QByteArray& bytes, int n)
{
    quint16 crc = 0xFFFF;
    for (int i = 0; i < n && i < bytes.size(); ++i) {
        crc ^= quint16(quint8(bytes[i])) << 8;
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

static quint8 sum(const QByteArray& f, int n)
{
    unsigned s = 0;
    for (int i = 0; i < n && i < f.size(); ++i)
        s += quint8(f[i]);
    return quint8(s & 0xFF);
}

quint8 FrameChecksum(const QByteArray& frame) { return sum(frame, 7); }
quint8 LongFrameChecksum(const QByteArray& frame) { return sum(frame, 49); }

QByteArray BlockRequest(quint8 hi, quint8 lo)
{
    QByteArray f(8, '\0');
    f[0] = char(0x2A);
    f[3] = char(hi);
    f[4] = char(lo);
    quint16 crc = CRC16(f, 6);
    f[6] = char(crc >> 8);
    f[7] = char(crc & 0xFF);
    return f;
}

QByteArray Command(quint8 op, quint8 b2, quint8 b3, quint8 b4, quint8 b5, quint8 b6)
{
    QByteArray f(8, '\0');
    f[0] = char(0xC8);
    f[1] = char(op);
    f[2] = char(b2);
    f[3] = char(b3);
    f[4] = char(b4);
    f[5] = char(b5);
    f[6] = char(b6);
    f[7] = char(FrameChecksum(f));
    return f;
}

QByteArray LongFrame(quint8 op, const QByteArray& content)
{
    QByteArray f(50, '\0');
    f[0] = char(0xF1);
    f[1] = char(op);
    for (int i = 0; i < content.size() && i < 47; ++i)
        f[2 + i] = content[i];
    f[49] = char(LongFrameChecksum(f));
    return f;
}

bool ReplyCrcOk(const quint8* reply)
{
    QByteArray b(reinterpret_cast<const char*>(reply), 262);
    return CRC16(b, 262) == MakeWord(reply[263], reply[262]);
}

int MakeWord(int high, int low) { return high * 256 + low; }

int ReportLength(quint8 first)
{
    switch (first) {
    case 0xFF: return 1;
    case 0xF2:
    case 0xF3: return 5;
    case 0xF0: return 4;
    case 0xFE:
    case 0xFB:
    case 0xFD:
    case 0xFC: return 3;
    default: return 0;
    }
}

bool IsBlockHeader(const QByteArray& b)
{
    return b.size() >= kBlockHeaderLength && quint8(b[0]) == 0x2A && b[1] == 0 && b[2] == 0 && b[5] == 0;
}

} // namespace Frames
