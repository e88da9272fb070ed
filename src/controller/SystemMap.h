#pragma once
#include <QString>
#include <QVector>

// The controller project file as a table of its lines: the nesting of each
// line (by its leading tabs) and, for point rows, the line itself. Rows keep
// their bytes as read, so writing the map back changes only renamed rows.
class SystemMap
{
public:
    struct Row
    {
        int ID = 0;            // 1-based line number
        QString Level1, Level2, Level3, Line;
        QByteArray raw;        // the line as read, without its line end
        QByteArray lineEnd;    // its line end as read
        bool changed = false;
    };

    // Bounds of what is taken for a project file (a real one has a few
    // thousand lines of a few dozen bytes).
    static constexpr qint64 kMaxBytes = 16 * 1024 * 1024;
    static constexpr qsizetype kMaxLines = 50000;

    // True also for a missing or unnamed file (logged; the map stays empty).
    // False for anything that is not a regular file of a project file's size,
    // which is not read; error() says why.
    bool read(const QString& projectFile);
    QString error() const { return m_error; }
    // Writes the rows back after a "Copy of " backup; nothing when empty.
    bool write(const QString& projectFile) const;

    bool isEmpty() const { return m_rows.isEmpty(); }
    int size() const { return int(m_rows.size()); }
    const Row* row(int id) const;
    // The point row text without tabs or other control characters; "" for a missing row.
    QString text(int id) const;
    // A point row is at this line. A heading found where a block of point rows
    // was expected (a truncated block) counts as missing, so it is neither
    // read as a name nor overwritten.
    bool exists(int id) const;
    // Replaces a point row's text; a heading is left as it is (logged).
    void setLine(int id, const QString& line);

    // ID of the heading "Variables", "X-10" or "Infra-Red" under "Local"; 0 when none.
    int localHeading(const QString& level3) const;
    // ID of the heading of module `unit`; 0 when none.
    int moduleHeading(int unit) const;

private:
    QVector<Row> m_rows;
    QString m_error;
};
