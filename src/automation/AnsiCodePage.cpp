#include "automation/AnsiCodePage.h"

#include <array>

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

QString decode(const QByteArray& bytes)
{
    const qsizetype n = bytes.size();
    QString text(n, Qt::Uninitialized);
    const uchar* in = reinterpret_cast<const uchar*>(bytes.constData());
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    for (qsizetype i = 0; i < n; ++i)
        out[i] = kDecode[in[i]];
    return text;
}

QByteArray encode(const QString& text)
{
    const qsizetype n = text.size();
    QByteArray bytes(n, Qt::Uninitialized);
    const char16_t* in = reinterpret_cast<const char16_t*>(text.constData());
    char* out = bytes.data();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = in[i];
        out[i] = u < 0x100 ? char(u) : byteBeyondLatin1(u);
    }
    return bytes;
}

} // namespace AnsiCodePage
