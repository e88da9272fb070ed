// The README's settings table is what a user edits the files by: each key it lists must be one
// the code reads, with the file, section and default the code uses, and each key the program,
// the page or the dialog reads must be in the table or be one the program keeps for itself.
#include <QDirIterator>
#include <QFile>
#include <QMultiHash>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <gtest/gtest.h>

namespace {

struct Row
{
    QString key;
    QString file;
    QString section;
    QString defaultCell; // the Default column as written
    QStringList defaults; // the literals (`...`) of that column: every default the code reads the key with
};

QString readText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QList<Row> tableRows()
{
    static const QRegularExpression row(
        QStringLiteral("^\\| `(\\w+)` \\| `([\\w.]+)` \\[([^\\]]+)\\] \\| ([^|]*) \\|"),
        QRegularExpression::MultilineOption);
    static const QRegularExpression literal(QStringLiteral("`([^`]*)`"));
    QList<Row> rows;
    for (auto it = row.globalMatch(readText(QStringLiteral(KORVANE_SOURCE_DIR "/README.md"))); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        Row r{m.captured(1), m.captured(2), m.captured(3), m.captured(4).trimmed(), {}};
        for (auto d = literal.globalMatch(r.defaultCell); d.hasNext();)
            r.defaults << d.next().captured(1);
        rows.append(r);
    }
    return rows;
}

// Every source line of the program, so that a key and its default can be found together.
QStringList sourceLines()
{
    QStringList lines;
    QDirIterator it(QStringLiteral(KORVANE_SOURCE_DIR "/src"), {QStringLiteral("*.cpp"), QStringLiteral("*.h")},
                    QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        lines += readText(it.next()).split(QLatin1Char('\n'));
    return lines;
}

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// Keys the code reads that a user does not set: the program writes them itself, or keeps them
// only for the configuration dialog's own boxes.
const QSet<QString> kKeptForItself = {
    QStringLiteral("comport"),             // written by the dialog; the README names it where its log entry shows
    QStringLiteral("invert"),              // the dialog's invert default for new units
    QStringLiteral("kestrel_var"),         // written by "Create Kestrel"
    QStringLiteral("showInMenu"),          // whether the plug-in registers its tray entry
    QStringLiteral("IncludeMessages"),     // the dialog's "Messages" box
    QStringLiteral("ShowStatus"),          // stored by the page's radio group, read by nothing else
    QStringLiteral("StatusSortKey"),       // set by the page's column headings
    QStringLiteral("StatusSortDirection"), // set by the page's column headings
};

TEST(ReadmeSettings, EveryKeyOfTheTableIsReadWithItsFileSectionAndDefault)
{
    const QList<Row> rows = tableRows();
    // A table the pattern no longer finds would pass every row check below.
    ASSERT_GE(rows.size(), 25) << "the README's settings table was not found";
    const QStringList lines = sourceLines();
    const QString all = lines.join(QLatin1Char('\n'));
    QSet<QString> keys;
    for (const Row &row : rows)
        keys.insert(row.key);
    // A literal that follows a quoted key in a read: the default it is read with (looked
    // ahead, so that the key of Read(section, key, default) is not taken as the section's default).
    static const QRegularExpression read(QStringLiteral("\"(\\w+)\"(?=\\)?\\s*,\\s*(?:QStringLiteral\\()?\"([^\"]*)\")"));
    QMultiHash<QString, QString> defaultsRead;
    for (const QString &line : lines) {
        if (line.contains(QLatin1String("save"), Qt::CaseInsensitive))
            continue; // a write names a value, not a default
        for (auto it = read.globalMatch(line); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            defaultsRead.insert(m.captured(1), m.captured(2));
        }
    }
    for (const Row &row : rows) {
        SCOPED_TRACE(row.key.toStdString());
        EXPECT_TRUE(all.contains(quoted(row.key))) << "no code reads this key";
        EXPECT_TRUE(all.contains(quoted(row.file))) << "no code names the file " << row.file.toStdString();
        EXPECT_TRUE(all.contains(quoted(row.section))) << "no code names the section " << row.section.toStdString();
        // Every literal default the code reads the key with: a key read with two
        // defaults must say both, and say where each holds.
        QSet<QString> readWith;
        for (const QString &d : defaultsRead.values(row.key))
            if (!keys.contains(d)) // a list of keys, not a read
                readWith.insert(d);
        for (const QString &d : readWith)
            EXPECT_TRUE(row.defaults.contains(d) || (d.isEmpty() && row.defaultCell.startsWith(QLatin1String("empty"))))
                << "the code reads it with the default \"" << d.toStdString() << "\", which the table's \""
                << row.defaultCell.toStdString() << "\" does not give";
        for (const QString &d : row.defaults)
            EXPECT_TRUE(readWith.contains(d)) << "no line reads it with the default " << d.toStdString();
    }
}

TEST(ReadmeSettings, EveryKeyTheProgramReadsIsInTheTable)
{
    QSet<QString> listed;
    for (const Row &row : tableRows())
        listed.insert(row.key);
    ASSERT_FALSE(listed.isEmpty());
    // The ways the program, the page and the dialog read a setting by its literal key.
    // An argument before the key: a literal, a named constant or a call without arguments.
    const QString arg = QStringLiteral("(?:QStringLiteral\\(\"[^\"]*\"\\)|\"[^\"]*\"|[\\w:]+(?:\\(\\))?)");
    static const QList<QRegularExpression> reads = {
        QRegularExpression(QStringLiteral("(?:PluginSettings::setting|\\bsetting|pluginSetting|hostSetting|statusSetting|"
                                          "\\bflag|\\bmark|storedFlag)\\(\\s*(?:QStringLiteral\\()?\"(\\w+)\"")),
        QRegularExpression(QStringLiteral("(?:getIniSetting|GetIniSetting|(?:\\.|->)Read)\\(\\s*(?:QStringLiteral\\()?"
                                          "(?:\"[\\w.]+\"|\\w+)\\)?\\s*,\\s*(?:QStringLiteral\\()?\"(\\w+)\"")),
        // The page frame's reads: Setting(file, section, key), over several lines at times.
        QRegularExpression(QStringLiteral("\\bSetting\\(\\s*") + arg + QStringLiteral("\\s*,\\s*") + arg
                           + QStringLiteral("\\s*,\\s*(?:QStringLiteral\\()?\"(\\w+)\"")),
        // and its helpers that name only the key, or a section and the key.
        QRegularExpression(QStringLiteral("\\b(?:include|includeOr)\\(\\s*(?:QStringLiteral\\()?\"(\\w+)\"")),
        QRegularExpression(QStringLiteral("\\bread\\(\\s*\"[\\w.]+\"\\s*,\\s*\"(\\w+)\"")),
        QRegularExpression(QStringLiteral("\\b(?:shown|forecast)\\(\\s*\"(\\w+)\"")),
    };
    QSet<QString> read;
    const QString all = sourceLines().join(QLatin1Char('\n'));
    for (const QRegularExpression &re : reads)
        for (auto it = re.globalMatch(all); it.hasNext();)
            read.insert(it.next().captured(1));
    // The scan itself must keep finding the keys it is known to find.
    for (const char *known : {"poll_interval", "HTTPPort", "BroadcastAddress", "AllowedHosts", "configfile", "IncludeSetup",
                              "UseSecurity", "touchscreenips", "logpagehits", "rowstyle", "strShowLinks", "Report_City",
                              "logoShowClock", "ExtForecast0"})
        EXPECT_TRUE(read.contains(QLatin1String(known))) << known << " was not found as read";
    for (const QString &key : read)
        EXPECT_TRUE(listed.contains(key) || kKeptForItself.contains(key))
            << key.toStdString() << " is read but neither in the README's settings table nor kept for the program itself";
}

} // namespace
