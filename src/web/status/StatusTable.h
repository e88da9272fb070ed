#pragma once

#include <QList>
#include <QString>

#include <vector>

// One point of the status page: a controller variable, an X10 unit, an I/O
// point, a learned IR entry or an IR macro.
struct StatusRow
{
    QString DC;        // host device code; "" without a device; "R" & n for IR; the macro text; "0" new macro
    QString Location;
    QString Name;
    double Changed = 0; // OLE date; 1 January 2000 means none
    bool Event = false;
    QString Tag;
    bool Used = false;
    QString DCSort;    // sort code
    QString DCDisplay; // display code: names the row's form fields
    int Buttons = 0;   // 0 none, 1 send, 2 off/on, 3 off/dim/on and a value field
    QString Value;     // "" for points; the macro text; "Undefined" for the new-macro row
};

// The in-memory table of the page's points: rows in the order they were
// added, viewed through a sort on one field and an optional filter on Used.
// It outlives the page that built it, so that the next posted form can walk
// exactly the rows that page showed.
class StatusTable
{
public:
    void addRow(const StatusRow &row);
    void clear();

    // "Field" or "Field ASC|DESC", field names without regard to case; false
    // (and the order kept) for a text that names no field or no direction.
    bool setSort(const QString &sortText);
    // "Used=true" or "" (every row); false (and no filter) for anything else.
    bool setFilter(const QString &filterText);
    QString sort() const { return m_sort; }
    QString filter() const { return m_filter; }

    // The rows in sort order, through the filter.
    QList<const StatusRow *> rows() const;
    int rowCount() const { return int(m_rows.size()); }

private:
    std::vector<StatusRow> m_rows;
    QString m_sort;
    QString m_filter;
    int m_sortField = -1;
    bool m_descending = false;
    bool m_usedOnly = false;
};

// The `status table` of the last page built.
StatusTable &CurrentStatusTable();
