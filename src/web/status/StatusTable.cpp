#include "web/status/StatusTable.h"

#include <QStringList>

#include <algorithm>
#include <numeric>

namespace {

enum Field { FDC, FLocation, FName, FChanged, FEvent, FTag, FUsed, FDCSort, FDCDisplay, FButtons, FValue, FCount };

const char *const kFieldNames[FCount] = {"DC",   "Location", "Name",      "Changed", "Event", "Tag",
                                         "Used", "DCSort",   "DCDisplay", "Buttons", "Value"};

int fieldIndex(const QString &name)
{
    for (int i = 0; i < FCount; ++i)
        if (name.compare(QLatin1String(kFieldNames[i]), Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

// <0, 0, >0 as a is before, with or after b in ascending order; texts
// without regard to case, false before true.
int compareField(const StatusRow &a, const StatusRow &b, int field)
{
    auto text = [](const QString &x, const QString &y) { return x.compare(y, Qt::CaseInsensitive); };
    auto number = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
    switch (field) {
    case FDC: return text(a.DC, b.DC);
    case FLocation: return text(a.Location, b.Location);
    case FName: return text(a.Name, b.Name);
    case FChanged: return number(a.Changed, b.Changed);
    case FEvent: return number(int(a.Event), int(b.Event));
    case FTag: return text(a.Tag, b.Tag);
    case FUsed: return number(int(a.Used), int(b.Used));
    case FDCSort: return text(a.DCSort, b.DCSort);
    case FDCDisplay: return text(a.DCDisplay, b.DCDisplay);
    case FButtons: return number(a.Buttons, b.Buttons);
    case FValue: return text(a.Value, b.Value);
    default: return 0;
    }
}

} // namespace

void StatusTable::addRow(const StatusRow &row)
{
    m_rows.push_back(row);
}

void StatusTable::clear()
{
    m_rows.clear();
    m_sort.clear();
    m_filter.clear();
    m_sortField = -1;
    m_descending = false;
    m_usedOnly = false;
}

bool StatusTable::setSort(const QString &sortText)
{
    const QStringList words = sortText.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty()) {
        m_sort.clear();
        m_sortField = -1;
        return true;
    }
    if (words.size() > 2)
        return false;
    const int field = fieldIndex(words.first());
    if (field < 0)
        return false;
    bool descending = false;
    if (words.size() == 2) {
        if (words.at(1).compare(QLatin1String("DESC"), Qt::CaseInsensitive) == 0)
            descending = true;
        else if (words.at(1).compare(QLatin1String("ASC"), Qt::CaseInsensitive) != 0)
            return false;
    }
    m_sort = sortText;
    m_sortField = field;
    m_descending = descending;
    return true;
}

bool StatusTable::setFilter(const QString &filterText)
{
    const QString compact = filterText.simplified().remove(QLatin1Char(' '));
    if (compact.isEmpty()) {
        m_filter.clear();
        m_usedOnly = false;
        return true;
    }
    if (compact.compare(QLatin1String("Used=true"), Qt::CaseInsensitive) != 0)
        return false;
    m_filter = filterText;
    m_usedOnly = true;
    return true;
}

QList<const StatusRow *> StatusTable::rows() const
{
    std::vector<size_t> order(m_rows.size());
    std::iota(order.begin(), order.end(), size_t(0));
    if (m_sortField >= 0) {
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            const int c = compareField(m_rows[a], m_rows[b], m_sortField);
            return m_descending ? c > 0 : c < 0;
        });
    }
    QList<const StatusRow *> out;
    out.reserve(qsizetype(order.size()));
    for (size_t i : order) {
        if (m_usedOnly && !m_rows[i].Used)
            continue;
        out.append(&m_rows[i]);
    }
    return out;
}

StatusTable &CurrentStatusTable()
{
    static StatusTable table;
    return table;
}
