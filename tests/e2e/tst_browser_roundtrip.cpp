// Odd texts typed into every text field the status page stores, in a real
// browser: after a Save, a restart and a Save with no edits the settings files
// are as the first Save left them, and each text was stored as typed or
// refused at the first Save with a note that names its field and quotes it,
// and a log entry of its kind. One program and one browser run
// per group of fields; the groups are separate test cases so they run side by side.
#include "BrowserScript.h"
#include "DemoProgram.h"
#include "PrivateNetwork.h"
#include "FormFields.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using BrowserScript::kChromium;

// The texts every field gets; the settings files are Windows-1252.
const QStringList kTexts = {
    QStringLiteral("q\"uote & amp"),
    QStringLiteral("a&b<c>d"),
    QStringLiteral(";first"),
    QStringLiteral("x=y"),
    QStringLiteral(" spaced "),
    QStringLiteral("[bracket"),
    QStringLiteral("Latin \u00e9\u00f1\u00fc\u00df"),
    QStringLiteral("Win \u20ac\u201e\u2030\u0178"),
    QStringLiteral("semi;colon"),
    QStringLiteral("'single'"),
    QStringLiteral("back\\slash~tilde"),
    QString(255, QLatin1Char('L')),
    // Outside the settings files' code page: stored as typed or refused, never as a character reference.
    QStringLiteral("Greek \u03a9"),
    QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442"),
};

// A text as the settings files' bytes read as Latin-1 (as DemoProgram::settings reads them).
QString asFile(const QString &text)
{
    static const QList<QPair<QChar, char>> k1252 = {
        {QChar(0x20ac), '\x80'}, {QChar(0x201e), '\x84'}, {QChar(0x2030), '\x89'}, {QChar(0x0178), '\x9f'}};
    QString out;
    for (QChar c : text) {
        for (const auto &[u, b] : k1252)
            if (c == u)
                c = QChar(uchar(b));
        out += c;
    }
    return out;
}

QJsonArray fill(const QString &field, const QString &text)
{
    return QJsonArray{QStringLiteral("fill"), QStringLiteral("input[name=\"%1\"]").arg(field), text};
}

// One typed text: where it went and where the first Save must have put it.
struct Typed
{
    QString text;
    QString place;     // for failure messages
    QString storedKey; // settings() key that holds it when taken
    QString stored;    // the value there when taken ("" = the key itself is the proof)
    QString refusal;   // how the page's note begins the line of the field (the text follows, quoted)
    QString field;     // the page's fields that show it: a pattern of their names
    QString shown;     // how the page shows it once taken (null: as typed)
};

class BrowserRoundTrip : public ::testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_BROWSER_DRIVER(node);
    }

    // `screenshot`: where the note of what the Save refused is pictured.
    bool save(const QJsonArray &steps, const QString &screenshot = QString())
    {
        QJsonObject options{{"case", "save"}, {"url", demo.url()}, {"steps", steps}};
        if (!screenshot.isEmpty())
            options.insert(QStringLiteral("noteShot"), screenshot);
        return BrowserScript::run(node, options, output);
    }

    // The files without the fields that follow the controller and the clock.
    QMap<QString, QString> files() const
    {
        QMap<QString, QString> out = demo.settings();
        // The records of received messages keep their time of change there.
        out.removeIf([](const auto &entry) { return entry.key().contains(QLatin1String("/[DEVICES]/")); });
        return out;
    }

    // Types every text, saves, restarts, saves untouched, and checks the property.
    void roundTrip(const QString &name, const QJsonArray &steps, const QList<Typed> &typed, const QByteArray &logged)
    {
        ASSERT_TRUE(save(steps, QStringLiteral(KORVANE_SCREENSHOT_DIR "/") + name + QStringLiteral(".png")))
            << output.constData();
        const QMap<QString, QString> first = files();
        for (auto it = first.begin(); it != first.end(); ++it)
            EXPECT_FALSE(it.value().contains(QLatin1String("&#")) || it.key().contains(QLatin1String("&#")))
                << it.key().toStdString() << " holds a character reference nobody typed: " << it.value().toStdString();
        // The page after the Save tells its user what was not taken, row by
        // row; the log has one entry per kind of refusal, its repeats counted.
        const QRegularExpression note(QStringLiteral("refusal note: (\"[^\n]*\")\n"));
        const QString shownNote =
            QJsonDocument::fromJson("[" + note.match(QString::fromUtf8(output)).captured(1).toUtf8() + "]").array().at(0).toString();
        int refusals = 0;
        for (const Typed &t : typed) {
            const bool taken = t.stored.isNull() ? first.contains(t.storedKey) : first.value(t.storedKey) == t.stored;
            // Its own line of the note names the field and quotes the text (a
            // filter's source or class within its key, which a note cuts after 80 characters).
            const QStringList lines = shownNote.split(QLatin1Char('\n'));
            const bool refused = std::any_of(lines.begin(), lines.end(), [&](const QString &line) {
                return line.startsWith(t.refusal + QLatin1Char('"'), Qt::CaseInsensitive) && line.contains(t.text.left(40));
            });
            refusals += taken ? 0 : 1;
            EXPECT_TRUE(taken || refused) << t.place.toStdString() << ": \"" << t.text.toStdString()
                                          << "\" was neither stored as typed nor refused with a note; "
                                          << t.storedKey.toStdString() << " holds \""
                                          << first.value(t.storedKey, QStringLiteral("<none>")).toStdString() << '"';
        }
        EXPECT_TRUE(refusals == 0 || demo.sent(logged)) << "no log entry for the refusals";
        EXPECT_EQ(shownNote.isEmpty(), refusals == 0) << "refused: " << refusals << ", note: " << shownNote.toStdString();
        // The page after the Save is read in the code page it is written in,
        // whatever letters it holds, so its fields post back what they show.
        EXPECT_TRUE(output.contains("charset: windows-1252")) << output.constData();
        EXPECT_FALSE(shownNote.contains(QChar(0xfffd))) << shownNote.toStdString();
        ASSERT_TRUE(demo.restart());
        // What was taken is what the program read back: the page shows it as typed.
        const FormFields::Fields form = FormFields::collect(QString::fromLatin1(demo.get()));
        for (const Typed &t : typed) {
            const bool taken = t.stored.isNull() ? first.contains(t.storedKey) : first.value(t.storedKey) == t.stored;
            const QRegularExpression name(t.field);
            const QString shown = asFile(t.shown.isNull() ? t.text : t.shown);
            const bool onPage = std::any_of(form.begin(), form.end(), [&](const auto &f) {
                return f.second == shown && name.match(f.first).hasMatch();
            });
            if (taken)
                EXPECT_TRUE(onPage) << t.place.toStdString() << ": \"" << t.text.toStdString()
                                    << "\" reads back changed after a restart";
        }
        ASSERT_TRUE(save({})) << output.constData();
        EXPECT_EQ(DemoProgram::changed(first, files()), QStringList())
            << "a Save with no edits after a restart changed what the first Save stored";
    }

    // The row number the page gave the input whose value is `value`, for fields named prefix<n>.
    int rowOf(const QByteArray &page, const QString &prefix, const QString &value)
    {
        const QString v = QRegularExpression::escape(value), p = QRegularExpression::escape(prefix);
        for (const QString &pattern : {QStringLiteral("value='%1' name='%2(\\d+)'"), QStringLiteral("name='%2(\\d+)' value='%1'")}) {
            const QRegularExpressionMatch m = QRegularExpression(pattern.arg(v, p)).match(QString::fromLatin1(page));
            if (m.hasMatch())
                return m.captured(1).toInt();
        }
        return -1;
    }

    // The six setup texts get texts `from` to `from` + 5.
    void setupFields(int from, QJsonArray &steps, QList<Typed> &typed)
    {
        static const struct
        {
            const char *field, *file, *key;
        } kSetup[] = {{"SerialIP", "tvkXapKorvane.ini", "SerialIP"},    {"Background", "tvkXapKorvane.ini", "Background"},
                      {"StyleSheet", "tvkXapKorvane.ini", "StyleSheet"}, {"ProjectFile", "xaptvkKorvane.ini", "ProjectFile"},
                      {"QPROFile", "xaptvkKorvane.ini", "QPROFile"},      {"IRPROFile", "xaptvkKorvane.ini", "IRPROFile"}};
        for (int i = 0; i < 6; ++i) {
            const QString text = kTexts.at((from + i) % kTexts.size());
            steps.append(fill(QLatin1String(kSetup[i].field), text));
            typed.append({text, QStringLiteral("setup field ") + kSetup[i].field,
                          QStringLiteral("%1/[TSPI_QUILLON]/%2").arg(QLatin1String(kSetup[i].file), QLatin1String(kSetup[i].key)),
                          asFile(text), QLatin1String(kSetup[i].key) + QLatin1Char(' '),
                          QStringLiteral("^%1$").arg(QLatin1String(kSetup[i].field))});
        }
    }

    DemoProgram demo;
    QString node;
    QByteArray output;
};

} // namespace

// Device tags of the variables' rows, and half of the setup texts.
TEST_F(BrowserRoundTrip, DeviceTagsAndSetupTexts)
{
    RUN_IN_PRIVATE_NETWORK(); // no lock against the other whole-program tests
    ASSERT_TRUE(demo.start());
    QJsonArray steps;
    QList<Typed> typed;
    for (int i = 0; i < kTexts.size(); ++i) {
        const QString disp = QStringLiteral("V%1:%2").arg(i).arg(i + 1, 2, 16, QLatin1Char('0')).toUpper();
        steps.append(fill(disp + QStringLiteral("Tag"), kTexts.at(i)));
        const QString key = QStringLiteral("tvkXapKorvane.ini/[PLUGINDEVICES]/[%1").arg(i + 1);
        QStringList fields = demo.settings().value(key).split(QLatin1Char(';'));
        ASSERT_EQ(fields.size(), 13) << key.toStdString();
        for (int f = 7; f <= 9; ++f)
            fields[f] = QStringLiteral("*");
        fields[11] = asFile(kTexts.at(i));
        typed.append({kTexts.at(i), QStringLiteral("tag of ") + disp, key, fields.join(QLatin1Char(';')),
                      QStringLiteral("the tag of the row %1 ").arg(disp), QStringLiteral("^%1Tag$").arg(disp)});
    }
    setupFields(0, steps, typed);
    roundTrip(QStringLiteral("roundtrip-tags"), steps, typed, "Status ClientRequest the tag of the row ");
}

// The filters' source, class and tag fields, each typed in rows of their own.
TEST_F(BrowserRoundTrip, FilterFields)
{
    RUN_IN_PRIVATE_NETWORK(); // no lock against the other whole-program tests
    QByteArray seeds;
    const int n = int(kTexts.size());
    for (int i = 0; i < 3 * n; ++i)
        seeds += QStringLiteral("f%1.src~seed.cls=t%1;\r\n").arg(i, 2, 10, QLatin1Char('0')).toLatin1();
    demo.editConfig("tvkXapKorvane.ini", "demo.weather.garden~", seeds.trimmed());
    ASSERT_TRUE(demo.start());
    const QByteArray page = demo.get();
    QJsonArray steps;
    QList<Typed> typed;
    const QString received = QStringLiteral("tvkXapKorvane.ini/[RECEIVED]/");
    for (int i = 0; i < 3 * n; ++i) {
        const QString seed = QStringLiteral("f%1").arg(i, 2, 10, QLatin1Char('0'));
        const int row = rowOf(page, QStringLiteral("Source"), seed + QStringLiteral(".src"));
        ASSERT_GT(row, 0) << seed.toStdString();
        const QString text = kTexts.at(i % n);
        const QString refusal = QStringLiteral("Filter row %1 ").arg(row);
        if (i < n) {
            steps.append(fill(QStringLiteral("Source%1").arg(row), text));
            typed.append({text, QStringLiteral("filter source"), received + asFile(text) + QStringLiteral("~seed.cls"),
                          QStringLiteral("t%1;").arg(i, 2, 10, QLatin1Char('0')), refusal, QStringLiteral("^Source\\d+$")});
        } else if (i < 2 * n) {
            steps.append(fill(QStringLiteral("Class%1").arg(row), text));
            typed.append({text, QStringLiteral("filter class"), received + seed + QStringLiteral(".src~") + asFile(text),
                          QStringLiteral("t%1;").arg(i, 2, 10, QLatin1Char('0')), refusal, QStringLiteral("^Class\\d+$")});
        } else {
            steps.append(fill(QStringLiteral("FilterTag%1").arg(row), text));
            QString tag = asFile(text);
            tag.replace(QLatin1Char(' '), QLatin1Char('_'));
            QString shown = text;
            shown.replace(QLatin1Char(' '), QLatin1Char('_'));
            typed.append({text, QStringLiteral("filter tag"), received + seed + QStringLiteral(".src~seed.cls"),
                          tag + QLatin1Char(';'), refusal, QStringLiteral("^FilterTag\\d+$"), shown});
        }
    }
    roundTrip(QStringLiteral("roundtrip-filters"), steps, typed, "SaveFilterSettigs: row ");
}

// The IR macros' names and lists, each typed in rows of their own, and the
// other half of the setup texts.
TEST_F(BrowserRoundTrip, MacroFieldsAndSetupTexts)
{
    RUN_IN_PRIVATE_NETWORK(); // no lock against the other whole-program tests
    QByteArray seeds = "[IRMacro]\r\n";
    const int n = int(kTexts.size());
    for (int i = 0; i < 2 * n; ++i)
        seeds += QStringLiteral("m%1=%2,7\r\n").arg(i, 2, 10, QLatin1Char('0')).arg(i).toLatin1();
    demo.editConfig("tvkXapKorvane.ini", "", seeds.trimmed());
    ASSERT_TRUE(demo.start());
    const QByteArray page = demo.get();
    QJsonArray steps;
    QList<Typed> typed;
    const QString macros = QStringLiteral("tvkXapKorvane.ini/[IRMACRO]/");
    for (int i = 0; i < 2 * n; ++i) {
        const QString seed = QStringLiteral("m%1").arg(i, 2, 10, QLatin1Char('0'));
        const int row = rowOf(page, QStringLiteral("MAC"), seed);
        ASSERT_GT(row, 0) << seed.toStdString();
        const QString text = kTexts.at(i % n);
        const QString refusal = QStringLiteral("the macro row MAC%1 ").arg(row);
        if (i < n) {
            steps.append(fill(QStringLiteral("MAC%1").arg(row), text));
            typed.append({text, QStringLiteral("macro name"), macros + asFile(text),
                          QStringLiteral("%1,7").arg(i), refusal, QStringLiteral("^MAC\\d+$")});
        } else {
            steps.append(fill(QStringLiteral("N%1").arg(row), text));
            typed.append({text, QStringLiteral("macro list"), macros + seed, asFile(text), refusal, QStringLiteral("^N\\d+$")});
        }
    }
    setupFields(6, steps, typed);
    roundTrip(QStringLiteral("roundtrip-macros"), steps, typed, "Status ClientRequest the macro row MAC");
}
