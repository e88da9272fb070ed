// The README's settings table is what a user edits the files by: each key it lists must be one
// the code reads, with the file, section and default the code uses, and each key the program,
// the page or the dialog reads must be in the table or be one the program keeps for itself.
#include <QDirIterator>
#include <QFile>
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
    QString defaultText; // the default as written in the code, or empty when the table says it in words
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
    static const QRegularExpression literal(QStringLiteral("^`([^`]*)`$"));
    QList<Row> rows;
    for (auto it = row.globalMatch(readText(QStringLiteral(KORVANE_SOURCE_DIR "/README.md"))); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QRegularExpressionMatch d = literal.match(m.captured(4).trimmed());
        rows.append({m.captured(1), m.captured(2), m.captured(3), d.hasMatch() ? d.captured(1) : QString()});
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
    for (const Row &row : rows) {
        SCOPED_TRACE(row.key.toStdString());
        EXPECT_TRUE(all.contains(quoted(row.key))) << "no code reads this key";
        EXPECT_TRUE(all.contains(quoted(row.file))) << "no code names the file " << row.file.toStdString();
        EXPECT_TRUE(all.contains(quoted(row.section))) << "no code names the section " << row.section.toStdString();
        if (row.defaultText.isEmpty())
            continue;
        // The default is the argument that follows the key in the read.
        const QRegularExpression read(QRegularExpression::escape(quoted(row.key))
                                      + QStringLiteral("\\)?\\s*,\\s*(?:QStringLiteral\\()?")
                                      + QRegularExpression::escape(quoted(row.defaultText)));
        const bool found = std::any_of(lines.begin(), lines.end(), [&](const QString &line) {
            return read.match(line).hasMatch();
        });
        EXPECT_TRUE(found) << "no line reads it with the default " << row.defaultText.toStdString();
    }
}

TEST(ReadmeSettings, EveryKeyTheProgramReadsIsInTheTable)
{
    QSet<QString> listed;
    for (const Row &row : tableRows())
        listed.insert(row.key);
    ASSERT_FALSE(listed.isEmpty());
    // The ways the program, the page and the dialog read a setting by its literal key.
    static const QList<QRegularExpression> reads = {
        QRegularExpression(QStringLiteral("(?:PluginSettings::setting|\\bsetting|pluginSetting|hostSetting|statusSetting|"
                                          "\\bflag|\\bmark|storedFlag)\\(\\s*(?:QStringLiteral\\()?\"(\\w+)\"")),
        QRegularExpression(QStringLiteral("(?:getIniSetting|GetIniSetting|(?:\\.|->)Read)\\(\\s*(?:QStringLiteral\\()?"
                                          "(?:\"[\\w.]+\"|\\w+)\\)?\\s*,\\s*(?:QStringLiteral\\()?\"(\\w+)\"")),
    };
    QSet<QString> read;
    const QString all = sourceLines().join(QLatin1Char('\n'));
    for (const QRegularExpression &re : reads)
        for (auto it = re.globalMatch(all); it.hasNext();)
            read.insert(it.next().captured(1));
    // The scan itself must keep finding the keys it is known to find.
    for (const char *known : {"poll_interval", "HTTPPort", "BroadcastAddress", "AllowedHosts", "configfile", "IncludeSetup"})
        EXPECT_TRUE(read.contains(QLatin1String(known))) << known << " was not found as read";
    for (const QString &key : read)
        EXPECT_TRUE(listed.contains(key) || kKeptForItself.contains(key))
            << key.toStdString() << " is read but neither in the README's settings table nor kept for the program itself";
}

} // namespace
