#include "automation/AnsiCodePage.h"

#include <array>
#include <cstring>

namespace AnsiCodePage {

namespace {

// Bytes 0x80-0x9F; the rest of the code page is Latin-1.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 98
};

constexpr std::array<char16_t, 256> makeDecodeTable()
{
    std::array<char16_t, 256> table{};
    for (int b = 0; b < 256; ++b)
        table[size_t(b)] = (b >= 0x80 && b <= 0x9F) ? kHigh[b - 0x80] : char16_t(b);
    return table;
}

constexpr std::array<char16_t, 256> kDecode = makeDecodeTable();

// The byte of a character beyond Latin-1, '?' when the code page has none.
char byteBeyondLatin1(char16_t u)
{
    switch (u) {
    case 0x20AC: return char(0x80);
    case 0x201A: return char(0x82);
    case 0x0192: return char(0x83);
    case 0x201E: return char(0x84);
    case 0x2026: return char(0x85);
    case 0x2020: return char(0x86);
    case 0x2021: return char(0x87);
    case 0x02C6: return char(0x88);
    case 0x2030: return char(0x89);
    case 0x0160: return char(0x8A);
    case 0x2039: return char(0x8B);
    case 0x0152: return char(0x8C);
    case 0x017D: return char(0x8E);
    case 0x2018: return char(0x91);
    case 0x2019: return char(0x92);
    case 0x201C: return char(0x93);
    case 0x201D: return char(0x94);
    case 0x2022: return char(0x95);
    case 0x2013: return char(0x96);
    case 0x2014: return char(0x97);
    case 0x02DC: return char(0x98);
    case 0x2122: return char(0x99);
    case 0x0161: return char(0x9A);
    case 0x203A: return char(0x9B);
    case 0x0153: return char(0x9C);
    case 0x017E: return char(0x9E);
    case 0x0178: return char(0x9F);
    default: return '?';
    }
}

// Whether any 8-byte word of the data has one of `mask`'s bits (the tail padded with zeros);
// a word at a time, since nearly all text is ASCII and this is the whole cost then.
bool anyBitsIn(const uchar* data, qsizetype size, quint64 mask)
{
    quint64 seen = 0;
    qsizetype i = 0;
    for (; i + 8 <= size; i += 8) {
        quint64 word;
        std::memcpy(&word, data + i, 8);
        seen |= word;
    }
    quint64 tail = 0;
    if (i < size)
        std::memcpy(&tail, data + i, size_t(size - i));
    return ((seen | tail) & mask) != 0;
}

bool anyByteOf0x80To0x9F(const uchar* data, qsizetype size)
{
    for (qsizetype i = 0; i < size; ++i)
        if ((data[i] & 0xE0) == 0x80)
            return true;
    return false;
}

} // namespace

QChar toUnicode(quint8 byte)
{
    return QChar(kDecode[byte]);
}

quint8 fromUnicode(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return quint8(u);
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == u)
            return quint8(0x80 + i);
    return '?';
}

// Both directions lean on Qt's vectorised Latin-1 conversion, which agrees with the code page
// everywhere except bytes 0x80-0x9F and characters beyond U+00FF; those are patched afterwards,
// and only when a plain scan finds any (most datagrams and pages hold none).
QString decode(const QByteArray& bytes)
{
    const qsizetype n = bytes.size();
    const uchar* in = reinterpret_cast<const uchar*>(bytes.constData());
    const bool high = anyBitsIn(in, n, 0x8080808080808080ull) && anyByteOf0x80To0x9F(in, n);
    QString text = QString::fromLatin1(bytes);
    if (high) {
        char16_t* out = reinterpret_cast<char16_t*>(text.data());
        for (qsizetype i = 0; i < n; ++i)
            out[i] = kDecode[in[i]];
    }
    return text;
}

QByteArray encode(const QString& text)
{
    const qsizetype n = text.size();
    const char16_t* in = reinterpret_cast<const char16_t*>(text.constData());
    const bool beyond = anyBitsIn(reinterpret_cast<const uchar*>(in), n * 2, 0xFF00FF00FF00FF00ull);
    QByteArray bytes = text.toLatin1();
    if (beyond) {
        char* out = bytes.data();
        for (qsizetype i = 0; i < n; ++i)
            if (in[i] > 0xFF)
                out[i] = byteBeyondLatin1(in[i]);
    }
    return bytes;
}

} // namespace AnsiCodePage
