#include "host/StateTables.h"

#include "automation/AnsiCodePage.h"
#include "automation/VbError.h"
#include "automation/VbString.h"

#include <cmath>

StateTables::StateTables()
{
    reset();
}

void StateTables::reset()
{
    for (int c = 0; c < 256; ++c) {
        int index = 0;
        if (c >= 33 && c <= 96)
            index = c - 32;
        else if (c >= 97 && c <= 122)
            index = c - 64;
        else if (c >= 123 && c <= 126)
            index = c - 58;
        m_houseIndex[size_t(c)] = index;
    }
    m_houseCount = m_houseIndex['~'] + 1;
    const size_t n = size_t(m_houseCount) * kUnits;
    m_status.assign(n, 0);
    m_value.assign(n, 0);
    m_string.assign(n, QString());
    m_lastChange.assign(n, 0.0);
    m_time.assign(n, 0);
}

StateTables::Slot StateTables::slot(const QString &code) const
{
    if (code.isEmpty())
        throw VbError(VbErr::SubscriptOutOfRange);
    // A house character is a byte of the code page: the euro sign is byte 128, as it is on disk.
    const char16_t first = code.at(0).unicode();
    const char16_t byte = first <= 255 ? first : AnsiCodePage::fromUnicode(code.at(0));
    if (first > 255 && byte == '?')
        throw VbError(VbErr::SubscriptOutOfRange);
    Slot s;
    s.house = m_houseIndex[byte];
    const double number = VbString::roundHalfEven(VbString::Val(code.mid(1)));
    s.unit = (std::isfinite(number) && number >= 0 && number < kUnits) ? int(number) : 0;
    return s;
}
