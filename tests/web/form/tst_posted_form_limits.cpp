// Posted Saves that a page's user cannot make by hand but a stale tab, a
// foreign text or a hostile client can: every refused field gets its note,
// every block counts by what the post carried, and a post of tens of
// thousands of rows neither holds the program nor floods the log.
#include "FormFixture.h"

#include "web/HtmlText.h"
#include "bridge/CommAndTimer.h"
#include "controller/PluginSettings.h"
#include "controller/PluginState.h"
#include "host/Application.h"
#include "host/HostGlobals.h"
#include "host/IniCache.h"
#include "host/IR.h"

#include "automation/Dictionary.h"
#include "core/Logging.h"
#include "core/RefusalLog.h"
#include "automation/AnsiCodePage.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <iostream>

namespace {

const QString kHostIni = QStringLiteral("tvkXapKorvane.ini");
const QString kPluginIni = QStringLiteral("xaptvkKorvane.ini");

QString varDisp(int n)
{
    return QStringLiteral("V") + QString::number(n) + QLatin1Char(':')
        + QString::number(n + 1, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

class PostedLimits : public FormFixture
{
protected:
    static Fields save(const Fields &rows)
    {
        Fields f{{"clientinput", "yes"}, {"clientvalue", "yes"}, {"UpdateButton", "Save Changes"}};
        f += rows;
        return f;
    }
    static bool ok(const QByteArray &reply) { return reply.startsWith("HTTP/1.1 200"); }
    // Whether the page's note of refusals says the text.
    static bool noted(const QByteArray &page, const QString &text)
    {
        const qsizetype at = page.indexOf("class='refused'");
        return at >= 0 && page.mid(at, page.indexOf("</div>", at) - at).contains(HtmlText::escape(text).toLatin1());
    }
    QString irTag(int loc) const
    {
        return gIRSlots->item(Variant::fromLong(loc + 1)).toObject()->get(QStringLiteral("ScriptTag")).toString();
    }
    int logEntriesSince(const QString &text) const
    {
        const QStringList bodies = PendingXapBodies();
        int n = 0;
        for (qsizetype i = logMark; i < bodies.size(); ++i)
            n += bodies.at(i).contains(text) ? 1 : 0;
        return n;
    }
};

} // namespace

// Every field of the page that a Save can refuse: the value stays as stored,
// the refusal is logged and the page built after the Save says so. A text
// the settings files cannot hold (outside Windows-1252) is refused as that,
// never stored as a character reference.
TEST_F(PostedLimits, EveryRefusedFieldIsNotedOnThePage)
{
    startAll();
    gPlugin.IncludeSetup = gPlugin.IncludeIR = true;
    const Fields setup{{"poll_interval", "2000"}, {"poll_intervalShown", "2000"}};
    const struct
    {
        const char *name;
        Fields fields;
        const char *note; // in the page built after the Save
        QString file, section, key; // what must stay unwritten
    } rows[] = {
        {"CommPort not a number", {{"CommPort", "COM1"}}, "CommPort \"COM1\" is not a number", kHostIni, "tspi_quillon", "CommPort"},
        {"ServerPort 0", {{"ServerPort", "0"}}, "ServerPort \"0\" is no TCP port", kHostIni, "tspi_quillon", "HTTPPort"},
        {"ServerPort 70000", {{"ServerPort", "70000"}}, "ServerPort \"70000\" is no TCP port", kHostIni, "tspi_quillon", "HTTPPort"},
        {"ServerPort text", {{"ServerPort", "web"}}, "ServerPort \"web\" is not a number", kHostIni, "tspi_quillon", "HTTPPort"},
        {"ServerPort exponent", {{"ServerPort", "1e3"}}, "ServerPort \"1e3\" is no TCP port", kHostIni, "tspi_quillon", "HTTPPort"},
        {"ServerPort hexadecimal", {{"ServerPort", "&H1F90"}}, "ServerPort \"&H1F90\" is no TCP port", kHostIni, "tspi_quillon", "HTTPPort"},
        {"ServerPort signed", {{"ServerPort", "+8012"}}, "ServerPort \"+8012\" is no TCP port", kHostIni, "tspi_quillon", "HTTPPort"},
        {"ServerPort fraction", {{"ServerPort", "8013.0"}}, "ServerPort \"8013.0\" is no TCP port", kHostIni, "tspi_quillon", "HTTPPort"},
        {"PeriodicScriptInterval", {{"PeriodicScriptInterval", "soon"}}, "PeriodicScriptInterval \"soon\" is not a number",
         kPluginIni, "tspi_quillon", "PeriodicScriptInterval"},
        {"poll_interval", {{"poll_interval", "fast"}}, "was not taken", kPluginIni, "tspi_quillon", "poll_interval"},
        {"SerialIP quote", {{"SerialIP", "a\"b"}}, "double quote", kHostIni, "tspi_quillon", "SerialIP"},
        {"SerialIP Greek", {{"SerialIP", "h\u03a9st"}}, "not Windows-1252", kHostIni, "tspi_quillon", "SerialIP"},
        {"ProjectFile Greek", {{"ProjectFile", "C:\\\u03a9\\p.qpr"}}, "not Windows-1252", kPluginIni, "tspi_quillon", "ProjectFile"},
        {"QPROFile Greek", {{"QPROFile", "C:\\\u03a9\\q.exe"}}, "not Windows-1252", kPluginIni, "tspi_quillon", "QPROFile"},
        {"IRPROFile Cyrillic", {{"IRPROFile", "\u041f\u0440\u0438"}}, "not Windows-1252", kPluginIni, "tspi_quillon", "IRPROFile"},
        // What the link and the clock can use, not merely any numeric or text form.
        {"SerialIP without a dot", {{"SerialIP", "abc"}}, "is no IPv4 address or host name", kHostIni, "tspi_quillon", "SerialIP"},
        {"SerialIP IPv6", {{"SerialIP", "::1"}}, "is no IPv4 address or host name", kHostIni, "tspi_quillon", "SerialIP"},
        {"SerialIP bad IPv4", {{"SerialIP", "300.1.1.1"}}, "is no IPv4 address or host name", kHostIni, "tspi_quillon", "SerialIP"},
        {"SerialIP blank label", {{"SerialIP", "a..b"}}, "is no IPv4 address or host name", kHostIni, "tspi_quillon", "SerialIP"},
        {"CommPort negative", {{"CommPort", "-5"}}, "CommPort \"-5\" is no port", kHostIni, "tspi_quillon", "CommPort"},
        {"CommPort exponent", {{"CommPort", "1e3"}}, "CommPort \"1e3\" is no port", kHostIni, "tspi_quillon", "CommPort"},
        {"CommPort 0", {{"CommPort", "0"}}, "CommPort \"0\" is no port", kHostIni, "tspi_quillon", "CommPort"},
        {"CommPort 70000", {{"CommPort", "70000"}}, "CommPort \"70000\" is no port", kHostIni, "tspi_quillon", "CommPort"},
        {"PeriodicScriptInterval negative", {{"PeriodicScriptInterval", "-5"}}, "\"-5\" is no whole number of seconds",
         kPluginIni, "tspi_quillon", "PeriodicScriptInterval"},
        {"PeriodicScriptInterval exponent", {{"PeriodicScriptInterval", "1e3"}}, "\"1e3\" is no whole number of seconds",
         kPluginIni, "tspi_quillon", "PeriodicScriptInterval"},
        {"PeriodicScriptInterval fraction", {{"PeriodicScriptInterval", "1.5"}}, "\"1.5\" is no whole number of seconds",
         kPluginIni, "tspi_quillon", "PeriodicScriptInterval"},
        {"PeriodicScriptInterval past a Long", {{"PeriodicScriptInterval", "99999999999"}}, "is no whole number of seconds",
         kPluginIni, "tspi_quillon", "PeriodicScriptInterval"},
        {"Background", {{"Background", "url(x)"}}, "Background \"url(x)\" is not a colour", kHostIni, "tspi_quillon", "Background"},
        {"StyleSheet", {{"StyleSheet", "../x.css"}}, "is not a relative path", kHostIni, "tspi_quillon", "StyleSheet"},
        {"macro name Cyrillic", {{"MAC0DC", "0"}, {"MAC0", "\u041f\u0440\u0438\u0432\u0435\u0442"}, {"N0", "1"}},
         "not Windows-1252", kHostIni, "IRMacro", "&#1055;&#1088;&#1080;&#1074;&#1077;&#1090;"},
        {"macro list Greek", {{"MAC0DC", "0"}, {"MAC0", "Omega"}, {"N0", "1,\u03a9"}}, "not Windows-1252", kHostIni,
         "IRMacro", "Omega"},
    };
    for (const auto &row : rows) {
        const QString before = iniValue(row.file, row.section, row.key);
        const QByteArray page = post(save(row.fields + setup));
        ASSERT_TRUE(ok(page)) << row.name;
        EXPECT_TRUE(noted(page, QString::fromUtf8(row.note))) << row.name << ": no note on the page";
        EXPECT_EQ(iniValue(row.file, row.section, row.key), before) << row.name;
        EXPECT_FALSE(configText(kHostIni).contains("&#")) << row.name;
        EXPECT_FALSE(configText(kPluginIni).contains("&#")) << row.name;
    }
    EXPECT_EQ(gIRMacroDictionary->count(), 0);
    // However many kinds of refusal the Saves went through, the log took a
    // bounded number of entries and counts the rest in one.
    EXPECT_LE(logEntriesSince(QStringLiteral("Status ClientRequest")), RefusalLog::kEntriesPerBudget);
    RefusalLog::Flush();
    EXPECT_EQ(logEntriesSince(QStringLiteral("further refusals within a minute")), 1);
    // The note quotes what was typed, also where the page's code page has no such character.
    const QByteArray page = post(save(Fields{{"SerialIP", "h\u03a9st"}} + setup));
    EXPECT_TRUE(page.contains("SerialIP &quot;h&#937;st&quot;")) << "the note does not show the typed text";
}

// What each setup field accepts is taken as typed (numbers as the link
// reads them); the refusals above are not a field refusing everything.
TEST_F(PostedLimits, SetupFieldsTakeWhatTheyAccept)
{
    startAll();
    gPlugin.IncludeSetup = true;
    const Fields setup{{"poll_interval", "2000"}, {"poll_intervalShown", "2000"}};
    // (A port a serial-device server can have: the addresses below are taken with it.)
    hs->saveIniSetting(QStringLiteral("tspi_quillon"), QStringLiteral("CommPort"), QStringLiteral("4001"), kHostIni);
    const struct
    {
        const char *field, *typed;
        QString file, key;
        const char *stored;
    } rows[] = {
        {"SerialIP", "192.168.1.50", kHostIni, "SerialIP", "192.168.1.50"},
        {"SerialIP", "ser2net.lan", kHostIni, "SerialIP", "ser2net.lan"},
        {"SerialIP", "", kHostIni, "SerialIP", ""},
        {"CommPort", "4001", kHostIni, "CommPort", "4001"},
        {"CommPort", " 2 ", kHostIni, "CommPort", "2"},
        {"PeriodicScriptInterval", "90", kPluginIni, "PeriodicScriptInterval", "90"},
        {"PeriodicScriptInterval", "0", kPluginIni, "PeriodicScriptInterval", "0"},
        {"PeriodicScriptInterval", "2147483647", kPluginIni, "PeriodicScriptInterval", "2147483647"},
    };
    for (const auto &row : rows) {
        const QByteArray page = post(save(Fields{{row.field, row.typed}} + setup));
        ASSERT_TRUE(ok(page)) << row.field << " " << row.typed;
        EXPECT_FALSE(page.contains("class='refused'")) << row.field << " \"" << row.typed << "\" was refused";
        QString stored = iniValue(row.file, "tspi_quillon", row.key);
        stored.remove(QLatin1Char('"'));
        if (stored == QLatin1String("<none>")) // an emptied setting reads as empty
            stored.clear();
        EXPECT_EQ(stored, QString::fromLatin1(row.stored)) << row.field << " " << row.typed;
    }
}

// Every number field of the setup block reads the same edges alike: blanks
// around and leading zeros are the number, while signs, inner blanks and
// values past the field's range are refused with a note. An emptied period
// stores "never", so the script stops running by itself; an emptied port or
// poll interval is refused.
TEST_F(PostedLimits, NumberFieldsReadTheirEdgesAlike)
{
    startAll();
    gPlugin.IncludeSetup = true;
    const struct
    {
        const char *field;
        QString file, key;
    } fields[] = {{"CommPort", kHostIni, "CommPort"},
                  {"poll_interval", kPluginIni, "poll_interval"},
                  {"PeriodicScriptInterval", kPluginIni, "PeriodicScriptInterval"},
                  {"ServerPort", kHostIni, "HTTPPort"}};
    // What each field stores, in the order above; nullptr: refused.
    const struct
    {
        const char *typed;
        const char *stored[4];
    } edges[] = {
        {"000080", {"80", "80", "000080", "80"}},
        {"00000000001", {"1", "1", "00000000001", "1"}},
        {"0000000000000000000042", {"42", "42", "0000000000000000000042", "42"}},
        {" 42 ", {"42", "42", "42", "42"}},
        {"", {nullptr, nullptr, "never", nullptr}},
        {"   ", {nullptr, nullptr, "never", nullptr}},
        {"0", {nullptr, "0", "0", nullptr}},
        {"65535", {"65535", "65535", "65535", "65535"}},
        {"065536", {nullptr, nullptr, "065536", nullptr}},
        {"2147483647", {nullptr, nullptr, "2147483647", nullptr}},
        {"02147483648", {nullptr, nullptr, nullptr, nullptr}},
        {"+5", {nullptr, nullptr, nullptr, nullptr}},
        {"-5", {nullptr, nullptr, nullptr, nullptr}},
        {"-0", {nullptr, nullptr, nullptr, nullptr}},
        {"4 2", {nullptr, nullptr, nullptr, nullptr}},
    };
    const Fields setup{{"poll_interval", "2000"}, {"poll_intervalShown", "2000"}};
    for (int f = 0; f < 4; ++f) {
        const auto &field = fields[f];
        for (const auto &edge : edges) {
            const QString what = QString::fromLatin1(field.field) + " \"" + edge.typed + "\"";
            // A value no edge stores, so that neither a taken nor a kept one passes by chance.
            if (field.file == kHostIni)
                hs->saveIniSetting(QStringLiteral("tspi_quillon"), field.key, QStringLiteral("7"), kHostIni);
            else
                PluginSettings::save(field.key, QStringLiteral("7"));
            Fields posted = QLatin1String(field.field) == QLatin1String("poll_interval") ? Fields{} : setup;
            posted.append({QString::fromLatin1(field.field), QString::fromLatin1(edge.typed)});
            const QByteArray page = post(save(posted));
            ASSERT_TRUE(ok(page)) << what.toStdString();
            QString stored = iniValue(field.file, "tspi_quillon", field.key);
            if (stored == QLatin1String("<none>"))
                stored.clear();
            if (const char *expected = edge.stored[f]) {
                EXPECT_FALSE(page.contains("class='refused'")) << what.toStdString() << " was refused";
                EXPECT_EQ(stored, QString::fromLatin1(expected)) << what.toStdString();
            } else {
                EXPECT_EQ(stored, "7") << what.toStdString() << " was taken";
                EXPECT_TRUE(noted(page, QString::fromLatin1(field.field) == QLatin1String("poll_interval")
                                            ? PluginSettings::kPollIntervalRule
                                            : QString::fromLatin1(field.field) + " \"" + edge.typed + "\""))
                    << what.toStdString() << ": no note on the page";
            }
        }
    }
}

// What the period's field means survives a restart: an emptied field (never)
// must not come back as a missing key, which runs the script every minute;
// a period that never runs it shows as the empty field that stores it.
TEST_F(PostedLimits, ThePeriodicScriptIntervalMeansTheSameAfterARestart)
{
    startAll();
    gPlugin.IncludeSetup = true;
    const Fields setup{{"IncludeSetup", "1"}, {"poll_interval", "2000"}, {"poll_intervalShown", "2000"}};
    const struct
    {
        const char *before; // as the file holds it; nullptr: no key
        const char *typed;  // nullptr: the field is left as shown
        const char *stored; // as the file holds it after the Save
        const char *shown;  // in the field, after the Save and after a restart
        bool runs;
    } rows[] = {
        {"30", "", "never", "", false},
        {"never", "", "never", "", false},
        {"30", "  ", "never", "", false},
        {"30", "45", "45", "45", true},
        {"never", "0", "0", "0", true},
        {nullptr, nullptr, "<none>", "0", true},
        {"-5", nullptr, "-5", "", false},
        {"soon", nullptr, "soon", "", false},
    };
    const auto field = [](const QByteArray &page) {
        const QByteArray at = "name='periodicscriptinterval' value='";
        const qsizetype from = page.indexOf(at);
        return from < 0 ? std::string("<no field>") : page.mid(from + at.size(), page.indexOf('\'', from + at.size()) - from - at.size()).toStdString();
    };
    for (const auto &row : rows) {
        const std::string what = std::string(row.before ? row.before : "(none)") + " -> " + (row.typed ? row.typed : "(as shown)");
        writeConfig(kPluginIni, row.before ? QByteArray("[tspi_quillon]\r\nIncludeSetup=1\r\nPeriodicScriptInterval=") + row.before + "\r\n"
                                           : QByteArray("[tspi_quillon]\r\nIncludeSetup=1\r\n"));
        HostIniCache().reset();
        gPlugin.ScriptPeriod = PluginSettings::setting(QStringLiteral("PeriodicScriptInterval"), QStringLiteral("0"));
        const QByteArray before = post(save(setup));
        Fields fields = setup;
        if (row.typed)
            fields += Fields{{"periodicscriptinterval", row.typed}, {"periodicscriptintervalShown", QString::fromStdString(field(before))}};
        const QByteArray after = post(save(fields));
        ASSERT_TRUE(ok(after)) << what;
        EXPECT_EQ(iniValue(kPluginIni, "tspi_quillon", "PeriodicScriptInterval"), row.stored) << what;
        EXPECT_EQ(field(after), row.shown) << what;
        if (row.typed) {
            EXPECT_EQ(CommAndTimer::instance().PeriodicScriptTimer.isEnabled(), row.runs) << what;
        }
        // A restart reads the file again.
        HostIniCache().reset();
        const QString period = PluginSettings::setting(QStringLiteral("PeriodicScriptInterval"), QStringLiteral("0"));
        EXPECT_EQ(PluginSettings::periodRunsScript(period), row.runs) << what;
        EXPECT_EQ(field(post(save(setup))), row.shown) << what << " (after a restart)";
    }
}

// The server's address is taken exactly when the link can look it up and
// connect: an IPv4 address in its plain form, or a name with a dot whose
// labels a name look-up takes (LAN names with "_", a fully qualified name
// ending in ".", international names); anything else is refused with a note.
TEST_F(PostedLimits, ServerAddressesAreTakenAsTheLinkLooksThemUp)
{
    startAll();
    gPlugin.IncludeSetup = true;
    const Fields setup{{"poll_interval", "2000"}, {"poll_intervalShown", "2000"}};
    const struct
    {
        const char *typed;
        bool taken;
    } rows[] = {
        {"192.168.1.50", true},     {"my_host.lan", true},       {"host.lan.", true},         {"ser2net.", true},
        {"_srv.lan", true},         {"x.y_", true},              {"b\u00fccher.de", true},    {"xn--bcher-kva.example", true},
        {"HOST.LAN", true},         {"1.2.3.4a", true},
        {"localhost", false},       {"127.1", false},            {"010.1.1.1", false},        {"1.2.3.4.", false},
        {"1.2.3.4.5", false},       {"-a.lan", false},           {"a-.lan", false},           {"a..b", false},
        {".a.b", false},            {"a b.lan", false},          {"1.2.3.4:4001", false},     {"a*b.lan", false},
        {".", false},               {" 1.2.3.4", false},
    };
    const QString longLabel = QString(64, QLatin1Char('a')) + QStringLiteral(".lan");
    hs->saveIniSetting(QStringLiteral("tspi_quillon"), QStringLiteral("CommPort"), QStringLiteral("4001"), kHostIni);
    for (const auto &row : rows) {
        const QString typed = QString::fromUtf8(row.typed);
        hs->saveIniSetting(QStringLiteral("tspi_quillon"), QStringLiteral("SerialIP"), QStringLiteral("10.0.0.1"), kHostIni);
        const QByteArray page = post(save(setup + Fields{{"SerialIP", typed}}));
        ASSERT_TRUE(ok(page)) << row.typed;
        EXPECT_EQ(iniValue(kHostIni, "tspi_quillon", "SerialIP"), row.taken ? typed : QStringLiteral("10.0.0.1")) << row.typed;
        EXPECT_EQ(noted(page, "is no IPv4 address or host name"), !row.taken) << row.typed;
    }
    ASSERT_TRUE(ok(post(save(setup + Fields{{"SerialIP", longLabel}}))));
    EXPECT_EQ(iniValue(kHostIni, "tspi_quillon", "SerialIP"), "10.0.0.1") << "a label of 64 characters";
}

// The server address and its port are stored only as a pair the link uses:
// a serial-device server's port is from 101 on, whichever half the Save
// changes; a serial port (no address) takes any port.
TEST_F(PostedLimits, ServerAddressAndPortAreTakenAsAPairTheLinkUses)
{
    startAll();
    gPlugin.IncludeSetup = true;
    const Fields setup{{"poll_interval", "2000"}, {"poll_intervalShown", "2000"}};
    const struct
    {
        const char *storedIp, *storedPort;
        const char *postedIp, *postedPort; // nullptr: not changed on the page
        const char *ip, *port;             // stored after the Save
        bool noted;
    } rows[] = {
        {"", "1", "10.0.0.5", "4001", "10.0.0.5", "4001", false},
        {"", "1", "10.0.0.5", "101", "10.0.0.5", "101", false},
        {"", "1", "10.0.0.5", "100", "", "1", true},
        {"", "1", "10.0.0.5", "80", "", "1", true},
        {"", "1", "ser2net.lan", "0080", "", "1", true},
        {"", "1", "10.0.0.5", nullptr, "", "1", true},
        {"", "4001", "10.0.0.5", nullptr, "10.0.0.5", "4001", false},
        {"10.0.0.1", "4001", nullptr, "100", "10.0.0.1", "4001", true},
        {"10.0.0.1", "4001", nullptr, "101", "10.0.0.1", "101", false},
        {"10.0.0.1", "4001", "", "3", "", "3", false},
        {"10.0.0.1", "4001", "", nullptr, "", "4001", false},
        {"", "1", nullptr, "3", "", "3", false},
        {"ser2net", "1", nullptr, "3", "ser2net", "3", false},
        {"10.0.0.1", "4001", "10.0.0.2", "99", "10.0.0.1", "4001", true},
        {"10.0.0.1", "4001", "abc", "80", "10.0.0.1", "4001", true},
    };
    for (const auto &row : rows) {
        const QString name = QStringLiteral("%1:%2 -> %3:%4")
                                 .arg(QString::fromLatin1(row.storedIp), QString::fromLatin1(row.storedPort),
                                      row.postedIp ? QString::fromLatin1(row.postedIp) : QStringLiteral("(kept)"),
                                      row.postedPort ? QString::fromLatin1(row.postedPort) : QStringLiteral("(kept)"));
        hs->saveIniSetting(QStringLiteral("tspi_quillon"), QStringLiteral("SerialIP"), QString::fromLatin1(row.storedIp), kHostIni);
        hs->saveIniSetting(QStringLiteral("tspi_quillon"), QStringLiteral("CommPort"), QString::fromLatin1(row.storedPort), kHostIni);
        Fields posted = setup;
        if (row.postedIp)
            posted += Fields{{"SerialIP", row.postedIp}};
        if (row.postedPort)
            posted += Fields{{"CommPort", row.postedPort}};
        const QByteArray page = post(save(posted));
        ASSERT_TRUE(ok(page)) << name.toStdString();
        // (An empty address may be stored as no key at all.)
        const QString ip = iniValue(kHostIni, "tspi_quillon", "SerialIP");
        EXPECT_EQ(ip == QLatin1String("<none>") ? QString() : ip, QString::fromLatin1(row.ip)) << name.toStdString();
        EXPECT_EQ(iniValue(kHostIni, "tspi_quillon", "CommPort"), QString::fromLatin1(row.port)) << name.toStdString();
        EXPECT_EQ(noted(page, QStringLiteral("a serial-device server's port is from 101 to 65535")), row.noted)
            << name.toStdString();
    }
}

// Fields a hand-made post carries that no page posts in that form are not
// dropped in silence: each gets its note, and none of them is taken.
TEST_F(PostedLimits, HandMadePostsGetTheirNotes)
{
    startAll();
    gPlugin.IncludeSetup = gPlugin.IncludeIR = true;
    const Fields setup{{"poll_interval", "2000"}, {"poll_intervalShown", "2000"}};
    const struct
    {
        const char *name;
        Fields fields;
        const char *note;
    } rows[] = {
        {"a field twice", setup + Fields{{"SerialIP", "1.2.3.4"}, {"SerialIP", "abc.lan"}},
         "The post carried the field SerialIP more than once"},
        {"a field twice in other letter case", setup + Fields{{"SerialIP", "1.2.3.4"}, {"serialip", "abc.lan"}},
         "The post carried the field serialip more than once"},
        {"setup fields without poll_interval", Fields{{"SerialIP", "abc.lan"}, {"CommPort", "4002"}},
         "setup fields without poll_interval"},
        {"an IR row past the controller's", Fields{{"IR5000DC", "R5000"}, {"IR5000Tag", "abc"}},
         "the field IR5000Tag, which names no row"},
        {"a row's field without its code", Fields{{"IR5Tag", "abc"}}, "the field IR5Tag, which names no row"},
        {"an X10 unit past 16", Fields{{"A17DC", ""}, {"A17Used", "on"}}, "the field A17Used, which names no row"},
        {"a variable past 127", Fields{{"V200:C9DC", ""}, {"V200:C9Event", "on"}}, "the field V200:C9Event, which names no row"},
    };
    for (const auto &row : rows) {
        hs->saveIniSetting(QStringLiteral("tspi_quillon"), QStringLiteral("SerialIP"), QStringLiteral("10.0.0.1"), kHostIni);
        const QByteArray page = post(save(row.fields));
        ASSERT_TRUE(ok(page)) << row.name;
        EXPECT_TRUE(noted(page, QString::fromLatin1(row.note))) << row.name << ": no note on the page";
        EXPECT_NE(iniValue(kHostIni, "tspi_quillon", "SerialIP"), "abc.lan") << row.name;
        EXPECT_NE(irTag(5), "abc") << row.name;
    }
}

// Tags are the keys of their records too: a text the records' section
// cannot hold as a key is refused where it is typed, with the fault it has,
// in every field that names a record (a device's or IR slot's tag, a
// filter's tag). A filter's inner blanks are kept as "_", as always.
TEST_F(PostedLimits, TagsTheRecordsCannotKeepAreRefusedWhereTyped)
{
    startAll();
    gPlugin.IncludeIR = true;
    const struct
    {
        const char *tag;
        const char *fault; // nullptr: taken
        const char *filterTag; // how a filter stores it when taken
    } rows[] = {{"a=b", "holds \"=\"", nullptr},       {" lead", "starts or ends with a blank", nullptr},
                {"trail ", "starts or ends with a blank", nullptr},
                {"\u03a9mega", "not Windows-1252", nullptr}, {"a;b", "holds \";\"", nullptr},
                {"\tx", "control character", nullptr},   {"a\x01" "b", "control character", nullptr},
                {"a\nb", "control character", nullptr},
                {";a", "holds \";\"", nullptr},        {"caf\u00e9 ok", nullptr, "caf\u00e9_ok"}};
    const struct
    {
        const char *name;
        std::function<Fields(const QString &)> fields;
        std::function<QString()> stored; // "" when nothing was taken
    } places[] = {
        {"IR tag", [](const QString &t) { return Fields{{"IR5DC", "R5"}, {"IR5Tag", t}, {"IR5Shown", "0"}}; },
         [this] { return irTag(5); }},
        {"filter tag",
         [](const QString &t) { return Fields{{"Source0", "s.a"}, {"Class0", "c.a"}, {"FilterTag0", t}, {"FilterEvent0", "1"}}; },
         [] { return gFilterDictionary && gFilterDictionary->count() > 0
                  ? gFilterDictionary->itemList()[0].toString().section(QLatin1Char(';'), 0, 0) : QString(); }},
    };
    for (const auto &place : places) {
        for (const auto &row : rows) {
            if (gFilterDictionary)
                gFilterDictionary->removeAll();
            gIRSlots->item(Variant::fromLong(6)).toObject()->let(QStringLiteral("ScriptTag"), Variant(QString()));
            const QString tag = QString::fromUtf8(row.tag);
            const QByteArray page = post(save(place.fields(tag)));
            ASSERT_TRUE(ok(page)) << place.name << " " << row.tag;
            if (row.fault) {
                EXPECT_TRUE(noted(page, QString::fromUtf8(row.fault))) << place.name << " \"" << row.tag << "\": no note";
                EXPECT_EQ(place.stored(), "") << place.name << " \"" << row.tag << "\" was stored";
            } else {
                const bool filter = QLatin1String(place.name) == QLatin1String("filter tag");
                EXPECT_EQ(place.stored(), QString::fromUtf8(filter ? row.filterTag : row.tag)) << place.name;
            }
        }
    }
}

// A tab built while a block was on posts its rows after another tab turned
// the block off: its edits are taken, as the page it was built from showed them.
TEST_F(PostedLimits, StaleTabEditsCountAfterAnotherTabTurnedTheirBlockOff)
{
    startAll();
    selectAndCreate({1}, {});
    const QString v1 = variableCode(1), v3 = variableCode(3);
    addDevice("C4", 0, "");
    gIRMacroDictionary->add(Variant(QStringLiteral("Night")), Variant(QStringLiteral("7,8")));
    const struct
    {
        const char *option;
        Fields rows;
        std::function<bool()> taken;
    } rows[] = {
        {"IncludeIR",
         {{"MAC1DC", "7,8"}, {"MAC1", "Evening"}, {"MAC1Shown", "Night"}, {"N1", "7,8"},
          {"MAC0DC", "0"}, {"MAC0", "Morning"}, {"N0", "9"}},
         [] { return gIRMacroDictionary->exists(Variant(QStringLiteral("Evening")))
                  && gIRMacroDictionary->exists(Variant(QStringLiteral("Morning"))); }},
        {"IncludeVariables",
         {{varDisp(3) + "DC", ""}, {varDisp(3) + "Used", "on"}, {varDisp(3) + "Shown", "0"},
          {varDisp(1) + "DC", v1}, {varDisp(1) + "Shown", "0"}},
         [&] { return deviceExists(v3) && !deviceExists(v1); }},
        {"IncludeX10", {{"C4DC", "C4"}, {"C4Shown", "0"}}, [&] { return !deviceExists("C4"); }},
    };
    for (const auto &row : rows) {
        // Another tab turned the block off since this one was built with it on.
        const QString option = QString::fromLatin1(row.option);
        gPlugin.IncludeIR = option != "IncludeIR";
        gPlugin.IncludeVariables = option != "IncludeVariables";
        gPlugin.IncludeX10 = option != "IncludeX10";
        ASSERT_TRUE(ok(post(save(Fields{{option, "1"}, {option + "Shown", "1"}} + row.rows)))) << row.option;
        EXPECT_TRUE(row.taken()) << row.option << ": the stale tab's edits were dropped";
        EXPECT_FALSE(option == "IncludeIR" ? gPlugin.IncludeIR : option == "IncludeVariables" ? gPlugin.IncludeVariables : gPlugin.IncludeX10)
            << row.option << ": the stale tab turned the option back on";
    }
}

// A post of 30,000 rows of one kind, the most a megabyte carries, is
// refused whole with one log entry and a note, and answered at once; a post
// just within the limit whose rows all clash is settled in time too.
TEST_F(PostedLimits, HugePostsAreRefusedAtOnceAndLargeOnesSettledInTime)
{
    startAll();
    gPlugin.IncludeIR = gPlugin.IncludeVariables = gPlugin.IncludeIO = true;
    const struct
    {
        const char *kind;
        std::function<Fields(int)> row;
    } kinds[] = {
        {"macro", [](int n) { return Fields{{"MAC" + QString::number(n + 1) + "DC", "1"}, {"MAC" + QString::number(n + 1), "same"}}; }},
        {"filter", [](int n) { return Fields{{"FilterKey" + QString::number(n + 1), "a~b"}, {"Source" + QString::number(n + 1), "s"}}; }},
        {"variable",
         [](int n) {
             return Fields{{"V" + QString::number(n % 128) + ":" + QString::number(n / 128 % 256, 16).rightJustified(2, '0') + "DC", "Q1"}};
         }},
        {"I/O", [](int n) { return Fields{{"X" + QString::number(n % 10000) + ":" + QString::number(n / 10000 + 0x100, 16) + "DC", ""}}; }},
    };
    for (const auto &kind : kinds) {
        for (const int count : {30000, 4000}) {
            Fields rows{{"Source0", ""}, {"Class0", ""}};
            for (int n = 0; n < count; ++n)
                rows += kind.row(n);
            gIRMacroDictionary->removeAll();
            RefusalLog::Reset();
            logMark = PendingXapMessageCount();
            QElapsedTimer clock;
            clock.start();
            const QByteArray page = post(save(rows));
            const qint64 ms = clock.elapsed();
            ASSERT_TRUE(ok(page)) << kind.kind << " " << count;
            std::cout << "post of " << count << ' ' << kind.kind << " rows: " << ms << " ms" << std::endl;
            // Seconds, where the unbounded loops took minutes.
            EXPECT_LT(ms, 15000) << kind.kind << " " << count;
            if (count > 4096) {
                EXPECT_TRUE(noted(page, "nothing was saved")) << kind.kind;
                EXPECT_EQ(logEntriesSince("rows; nothing taken"), 1) << kind.kind;
                EXPECT_EQ(gIRMacroDictionary->count(), 0) << kind.kind;
            } else if (QLatin1String(kind.kind) == QLatin1String("macro")) {
                EXPECT_EQ(gIRMacroDictionary->count(), 1);
                EXPECT_LE(logEntriesSince("is another macro's name"), 33);
            }
        }
    }
}

// Every button whose post makes the program wait: the macro's list comes
// from the post, and only sent events run in the pauses between its items,
// so however long the posted list, the program must not be held a second.
TEST_F(PostedLimits, ButtonsThatWaitHoldTheProgramUnderASecond)
{
    startAll();
    gPlugin.IncludeIR = true;
    auto list = [](int items) {
        QStringList l;
        for (int i = 0; i < items; ++i)
            l << QString::number(i);
        return l.join(QLatin1Char(','));
    };
    const struct
    {
        const char *name;
        Fields fields;
        int played;
        bool noted;
    } rows[] = {
        {"macro of 100 items", {{"clientinput", "MAC1"}, {"clientvalue", "SEND"}, {"MAC1DC", list(100)}}, 10, true},
        {"macro of 10 items", {{"clientinput", "MAC1"}, {"clientvalue", "SEND"}, {"MAC1DC", list(10)}}, 10, false},
        {"IR code", {{"clientinput", "IR17"}, {"clientvalue", "SEND"}, {"IR17DC", "R17"}}, 1, false},
    };
    for (const auto &row : rows) {
        sim->irPlayed.clear();
        // The longest time no timer of the program could run.
        QElapsedTimer sinceTick;
        qint64 longestGap = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            longestGap = qMax(longestGap, sinceTick.restart());
        });
        sinceTick.start();
        ticker.start(10);
        const QByteArray page = post(row.fields);
        longestGap = qMax(longestGap, sinceTick.elapsed());
        ticker.stop();
        ASSERT_TRUE(ok(page)) << row.name;
        std::cout << row.name << ": program held at most " << longestGap << " ms" << std::endl;
        EXPECT_LT(longestGap, 1800) << row.name;
        EXPECT_TRUE(waitFor([&] { return sim->irPlayed.size() >= row.played; }, 5000)) << row.name;
        waitFor([] { return false; }, 200);
        EXPECT_EQ(sim->irPlayed.size(), row.played) << row.name;
        EXPECT_EQ(noted(page, "items; the page played its first"), row.noted) << row.name;
    }
}

// Every text field of the page is stored in a settings file that each
// later save rewrites whole: a text far longer than anyone types is refused
// with its note, never stored.
TEST_F(PostedLimits, TextsLongerThanAnyTypedAreRefused)
{
    startAll();
    gPlugin.IncludeIR = gPlugin.IncludeSetup = true;
    const QString longText = QString(300, QLatin1Char('L'));
    const QString longNumber = QLatin1Char('1') + QString(299, QLatin1Char('0'));
    const Fields filter0{{"Source0", "s.a"}, {"Class0", "c.a"}, {"FilterTag0", "ok"}, {"FilterEvent0", "1"}};
    const struct
    {
        const char *name;
        Fields fields;
    } rows[] = {
        {"macro name", {{"MAC0DC", "0"}, {"MAC0", longText}, {"N0", "1"}}},
        {"macro list", {{"MAC0DC", "0"}, {"MAC0", "m"}, {"N0", "1," + longNumber}}},
        {"IR tag", {{"IR5DC", "R5"}, {"IR5Tag", longText}, {"IR5Shown", "0"}}},
        {"filter source", {{"Source0", longText}, {"Class0", "c.a"}, {"FilterTag0", "t"}, {"FilterEvent0", "1"}}},
        {"filter class", {{"Source0", "s.a"}, {"Class0", longText}, {"FilterTag0", "t"}, {"FilterEvent0", "1"}}},
        {"filter tag", {{"Source0", "s.a"}, {"Class0", "c.a"}, {"FilterTag0", longText}, {"FilterEvent0", "1"}}},
        {"SerialIP", {{"SerialIP", longText}}},
        {"ProjectFile", {{"ProjectFile", longText}}},
        {"QPROFile", {{"QPROFile", longText}}},
        {"IRPROFile", {{"IRPROFile", longText}}},
        {"Background", {{"Background", longText}}},
        {"StyleSheet", {{"StyleSheet", longText}}},
        {"PeriodicScriptInterval", {{"PeriodicScriptInterval", longNumber}}},
    };
    const Fields setup{{"poll_interval", "2000"}, {"poll_intervalShown", "2000"}};
    for (const auto &row : rows) {
        const QByteArray page = post(save(row.fields + setup));
        ASSERT_TRUE(ok(page)) << row.name;
        EXPECT_TRUE(noted(page, "is longer than 255 characters")) << row.name << ": no note on the page";
        for (const QString &file : {kHostIni, kPluginIni}) {
            EXPECT_FALSE(configText(file).contains(longText)) << row.name << " stored in " << file.toStdString();
            EXPECT_FALSE(configText(file).contains(longNumber)) << row.name << " stored in " << file.toStdString();
        }
    }
    // A long name within the bound is still taken.
    ASSERT_TRUE(ok(post(save({{"MAC0DC", "0"}, {"MAC0", QString(255, QLatin1Char('n'))}, {"N0", "1"}}))));
    EXPECT_TRUE(gIRMacroDictionary->exists(Variant(QString(255, QLatin1Char('n')))));
}

// A stale tab's edit of a filter another tab deleted since is not taken
// (the filter stays deleted) but is noted; a row it left as shown is not.
TEST_F(PostedLimits, StaleEditOfADeletedFilterIsNoted)
{
    startAll();
    const Fields blank{{"Source0", ""}, {"Class0", ""}, {"FilterTag0", ""}};
    const Fields shown{{"FilterKey1", "s.a~c.a"}, {"FilterShown1", "Old;1"}, {"Source1", "s.a"}, {"Class1", "c.a"},
                       {"FilterEvent1", "1"}};
    const struct
    {
        const char *name;
        Fields fields;
        bool noted;
    } rows[] = {
        {"tag edited", Fields{{"FilterTag1", "New"}}, true},
        {"source edited", Fields{{"FilterTag1", "Old"}, {"Source1", "s.b"}}, true},
        {"left as shown", Fields{{"FilterTag1", "Old"}}, false},
        {"deleted here too", Fields{{"FilterTag1", "Old"}, {"Source1", ""}, {"Class1", ""}}, false},
    };
    for (const auto &row : rows) {
        if (gFilterDictionary)
            gFilterDictionary->removeAll();
        Fields fields = blank + row.fields;
        for (const auto &f : shown)
            if (std::none_of(fields.begin(), fields.end(), [&](const auto &g) { return g.first == f.first; }))
                fields.append(f);
        const QByteArray page = post(save(fields));
        ASSERT_TRUE(ok(page)) << row.name;
        EXPECT_EQ(noted(page, "was deleted since the page was built"), row.noted) << row.name;
        EXPECT_EQ(gFilterDictionary->count(), 0) << row.name;
    }
}

// The rows are numbered by the poster: refusals of one kind on many rows,
// in Save after Save, cost one log entry and one counted entry, whatever
// rows and values they name, while the page's note names every row.
TEST_F(PostedLimits, RefusalsOfOneKindOnManyRowsAreLoggedOnce)
{
    startAll();
    gPlugin.IncludeIR = gPlugin.IncludeSetup = true;
    const struct
    {
        const char *name;
        std::function<Fields(int)> row;
        const char *logged;
        std::function<QString(int)> note; // what the page names for row n
    } kinds[] = {
        {"macro name", [](int n) { return Fields{{"MAC" + QString::number(n + 1) + "DC", "1"}, {"MAC" + QString::number(n + 1), "a=" + QString::number(n)}}; },
         "holds \"=\"", [](int n) { return "MAC" + QString::number(n + 1) + " \"a=" + QString::number(n) + "\""; }},
        {"IR tag", [](int n) { return Fields{{"IR" + QString::number(n) + "DC", "R" + QString::number(n)}, {"IR" + QString::number(n) + "Tag", " t" + QString::number(n)}}; },
         "starts or ends with a blank", [](int n) { return "IR" + QString::number(n) + " \" t" + QString::number(n) + "\""; }},
        {"no IR slot", [](int n) { return Fields{{"IR" + QString::number(100 + n) + "DC", "R9999"}, {"IR" + QString::number(100 + n) + "Tag", "t"}}; },
         "no IR slot for the row", [](int n) { return "IR" + QString::number(100 + n) + ";"; }},
        {"filter tag", [](int n) { return Fields{{"FilterKey" + QString::number(n + 1), "s~c" + QString::number(n)}, {"FilterShown" + QString::number(n + 1), "x;1"}, {"Source" + QString::number(n + 1), "s"}, {"Class" + QString::number(n + 1), "c" + QString::number(n)}, {"FilterTag" + QString::number(n + 1), "a=b" + QString::number(n)}}; },
         "not saved", [](int n) { return "Filter row " + QString::number(n + 1) + " \"a=b" + QString::number(n) + "\""; }},
        // One field, a new value at each Save.
        {"ServerPort", [](int n) { return Fields{{"ServerPort", QString::number(70000 + n)}}; }, "is no TCP port",
         [](int n) { return "ServerPort \"" + QString::number(70000 + n) + "\""; }},
    };
    if (!gFilterDictionary)
        gFilterDictionary = std::make_shared<Dictionary>(Dictionary::TextCompare);
    const Fields setup{{"poll_interval", "2000"}, {"poll_intervalShown", "2000"}};
    for (const auto &kind : kinds) {
        RefusalLog::Reset();
        logMark = PendingXapMessageCount();
        const bool oneField = QLatin1String(kind.name) == QLatin1String("ServerPort");
        int refused = 0;
        // Three Saves, each naming other rows than the one before.
        for (int save3 = 0; save3 < 3; ++save3) {
            gFilterDictionary->removeAll();
            for (int n = 0; n < 120; ++n)
                gFilterDictionary->add(Variant("s~c" + QString::number(n)), Variant(QStringLiteral("x;1")));
            Fields rows = Fields{{"Source0", ""}, {"Class0", ""}} + setup;
            const int first = save3 * 40, count = oneField ? 1 : 40;
            for (int n = first; n < first + count; ++n)
                rows += kind.row(n);
            const QByteArray page = post(save(rows));
            ASSERT_TRUE(ok(page)) << kind.name;
            for (int n = first; n < first + count; ++n)
                EXPECT_TRUE(noted(page, kind.note(n))) << kind.name << ": the note does not name " << kind.note(n).toStdString();
            refused += count;
        }
        EXPECT_EQ(logEntriesSince(kind.logged), 1) << kind.name;
        RefusalLog::Flush();
        EXPECT_EQ(logEntriesSince(QStringLiteral("(repeated %1 more times)").arg(refused - 1)), 1)
            << kind.name << ": the repeats are not counted in one entry";
        EXPECT_EQ(logEntriesSince(kind.logged), 2) << kind.name;
    }
}

// Every text field of the page goes through one check of what the settings
// files can hold: the code page's control characters and a byte-order mark
// are refused with a note wherever they stand. A post that is no UTF-8 (a
// tab of the page's older version posted Windows-1252) is read in the code
// page as a whole, and the page says so.
TEST_F(PostedLimits, EveryTextFieldRefusesWhatTheFilesCannotHold)
{
    startAll();
    gPlugin.IncludeSetup = gPlugin.IncludeIR = true;
    addDevice("C4", 0, "");
    const QByteArray setup = encode({{"poll_interval", "2000"}, {"poll_intervalShown", "2000"}});
    auto ini = [this](const QString &file, const char *key) {
        // As the program reads the file back: in the code page.
        return [this, file, key] { return AnsiCodePage::decode(iniValue(file, "tspi_quillon", QLatin1String(key)).toLatin1()); };
    };
    auto joined = [](const std::vector<Variant> &values) {
        QStringList texts;
        for (const Variant &v : values)
            texts << v.toString();
        return texts.join(QLatin1Char(','));
    };
    auto filters = [] {
        return gFilterDictionary && gFilterDictionary->count() > 0
            ? gFilterDictionary->keyList()[0].toString() + QLatin1Char('=') + gFilterDictionary->itemList()[0].toString()
            : QString();
    };
    const struct
    {
        const char *name;
        QByteArray fields; // the text goes in place of "@"
        std::function<QString()> stored;
    } places[] = {
        {"SerialIP", "SerialIP=@", ini(kHostIni, "SerialIP")},
        {"Background", "Background=@", ini(kHostIni, "Background")},
        {"StyleSheet", "StyleSheet=@", ini(kHostIni, "StyleSheet")},
        {"ProjectFile", "ProjectFile=@", ini(kPluginIni, "ProjectFile")},
        {"QPROFile", "QPROFile=@", ini(kPluginIni, "QPROFile")},
        {"IRPROFile", "IRPROFile=@", ini(kPluginIni, "IRPROFile")},
        {"macro name", "MAC0DC=0&MAC0=@&N0=1", [=] { return joined(gIRMacroDictionary->keyList()); }},
        {"macro list", "MAC0DC=0&MAC0=Omega&N0=@", [=] { return joined(gIRMacroDictionary->itemList()); }},
        {"X10 tag", "C4DC=C4&C4Used=on&C4Tag=@&C4Shown=0", [this] { return deviceProperty("C4", "ScriptTag"); }},
        {"IR tag", "IR5DC=R5&IR5Tag=@&IR5Shown=0", [this] { return irTag(5); }},
        {"filter source", "Source0=@&Class0=c.a&FilterTag0=t&FilterEvent0=1", filters},
        {"filter class", "Source0=s.a&Class0=@&FilterTag0=t&FilterEvent0=1", filters},
        {"filter tag", "Source0=s.a&Class0=c.a&FilterTag0=@&FilterEvent0=1", filters},
        {"filter event", "Source0=s.a&Class0=c.a&FilterTag0=t&FilterEvent0=@", filters},
    };
    const struct
    {
        const char *text;   // as posted, escapes and all
        const char *note;   // nullptr: taken as typed, without a note
        const char *readAs; // how a post that is no UTF-8 is read
    } texts[] = {
        {"a%C2%81b.lan", "control character", nullptr},
        {"a%C2%8Db.lan", "control character", nullptr},
        {"a%C2%9Db.lan", "control character", nullptr},
        {"%EF%BB%BFx.lan", "not Windows-1252", nullptr},
        {"x%EF%BB%BFy.lan", "not Windows-1252", nullptr},
        {"%C3%A9x%E9.lan", "was not UTF-8", "\u00c3\u00a9x\u00e9.lan"},
        {"a%C3%28b.lan", "was not UTF-8", "a\u00c3(b.lan"},
        {"%ED%A0%80.lan", "was not UTF-8", "\u00ed\u00a0\u20ac.lan"},
        {"caf%E9.lan", "was not UTF-8", "caf\u00e9.lan"},
    };
    for (const auto &place : places) {
        for (const auto &text : texts) {
            gIRMacroDictionary->removeAll();
            if (gFilterDictionary)
                gFilterDictionary->removeAll();
            const QString before = place.stored();
            QByteArray fields = place.fields;
            fields.replace('@', text.text);
            const QByteArray page = postBody("clientinput=yes&clientvalue=yes&UpdateButton=Save+Changes&" + setup + '&' + fields);
            ASSERT_TRUE(ok(page)) << place.name << " " << text.text;
            EXPECT_TRUE(noted(page, QString::fromUtf8(text.note))) << place.name << " " << text.text << ": no note";
            const QString stored = place.stored();
            if (!text.readAs) {
                EXPECT_EQ(stored, before) << place.name << " " << text.text << " was stored";
                for (const QChar c : stored)
                    EXPECT_TRUE(c.unicode() < 0x80 || c.unicode() > 0x9f) << place.name << " " << text.text;
            } else if (stored != before) {
                // Read in the code page as a whole; a field may still refuse it for its own reasons.
                EXPECT_TRUE(stored.contains(QString::fromUtf8(text.readAs))) << place.name << " " << text.text << ": "
                                                                             << stored.toStdString();
            }
        }
    }
    // A browser's UTF-8 post of the same characters is taken as typed, with no note.
    const QByteArray page = postBody("clientinput=yes&clientvalue=yes&UpdateButton=Save+Changes&" + setup
                                     + "&ProjectFile=caf%C3%A9%E2%82%AC&C4DC=C4&C4Used=on&C4Tag=caf%C3%A9&C4Shown=0");
    EXPECT_FALSE(page.contains("class='refused'"));
    EXPECT_EQ(AnsiCodePage::decode(iniValue(kPluginIni, "tspi_quillon", "ProjectFile").remove(QLatin1Char('"')).toLatin1()),
              QString::fromUtf8("caf\u00e9\u20ac"));
    EXPECT_EQ(deviceProperty("C4", "ScriptTag"), QString::fromUtf8("caf\u00e9"));
}

// A tag or trigger typed in a row that has no device (an X10 unit, a
// variable or an I/O point without one, an IR row of no slot, a macro) has
// nowhere to be kept: it is refused with a note and logged, never dropped in
// silence; in a row with a device it is taken.
TEST_F(PostedLimits, TagsOfRowsWithoutADeviceAreNoted)
{
    startAll();
    gPlugin.IncludeIR = gPlugin.IncludeVariables = gPlugin.IncludeX10 = gPlugin.IncludeIO = true;
    addDevice("C4", 0, "");
    gIRMacroDictionary->add(Variant(QStringLiteral("Night")), Variant(QStringLiteral("7,8")));
    const QString v5 = varDisp(5);
    const struct
    {
        const char *name;
        Fields fields;
        const char *note; // nullptr: taken
        std::function<bool()> kept;
    } rows[] = {
        {"X10 tag", {{"A4DC", ""}, {"A4Tag", "plain"}, {"A4Shown", "0"}}, "The row A4 is no device",
         [this] { return !deviceExists("A4"); }},
        {"X10 event", {{"A6DC", ""}, {"A6Event", "on"}, {"A6Shown", "0"}}, "The row A6 is no device",
         [this] { return !deviceExists("A6"); }},
        {"X10 tag emptied after its device went", {{"A5DC", "A5"}, {"A5Tag", ""}, {"A5Shown", "0old"}},
         "The row A5 is no device", [this] { return !deviceExists("A5"); }},
        {"X10 tag of a hand-made post", {{"B1DC", ""}, {"B1Tag", "b1"}}, "The row B1 is no device",
         [this] { return !deviceExists("B1"); }},
        {"variable tag", {{v5 + "DC", ""}, {v5 + "Tag", "v"}, {v5 + "Shown", "0"}}, "is no device",
         [this] { return !deviceExists(variableCode(5)); }},
        {"I/O tag", {{"X900:10DC", ""}, {"X900:10Tag", "io"}, {"X900:10Shown", "0"}}, "The row X900:10 is no device",
         [] { return true; }},
        {"IR tag of no slot", {{"IR7DC", "R8"}, {"IR7Tag", "ir"}, {"IR7Shown", "0"}}, "no IR slot for the row IR7",
         [this] { return irTag(7).isEmpty() && irTag(8).isEmpty(); }},
        {"macro tag", {{"MAC1DC", "7,8"}, {"MAC1", "Night"}, {"MAC1Shown", "Night"}, {"N1", "7,8"}, {"MAC1Tag", "mt"}},
         "The row MAC1 is no device", [] { return gIRMacroDictionary->exists(Variant(QStringLiteral("Night"))); }},
        {"macro event", {{"MAC1DC", "7,8"}, {"MAC1", "Night"}, {"MAC1Shown", "Night"}, {"N1", "7,8"}, {"MAC1Event", "on"}},
         "The row MAC1 is no device", [] { return true; }},
        {"new macro row tag", {{"MAC0DC", "0"}, {"MAC0", ""}, {"N0", ""}, {"MAC0Tag", "nt"}}, "The row MAC0 is no device",
         [] { return gIRMacroDictionary->count() == 1; }},
        // Rows that keep what was typed: no note.
        {"X10 tag with a device", {{"C4DC", "C4"}, {"C4Used", "on"}, {"C4Tag", "kept"}, {"C4Shown", "0"}}, nullptr,
         [this] { return deviceProperty("C4", "ScriptTag") == QLatin1String("kept"); }},
        {"IR tag", {{"IR9DC", "R9"}, {"IR9Tag", "ir9"}, {"IR9Shown", "0"}}, nullptr,
         [this] { return irTag(9) == QLatin1String("ir9"); }},
        {"X10 row left as shown", {{"A7DC", ""}, {"A7Tag", ""}, {"A7Shown", "0"}}, nullptr, [] { return true; }},
        {"macro row left empty", {{"MAC1DC", "7,8"}, {"MAC1", "Night"}, {"MAC1Shown", "Night"}, {"N1", "7,8"}, {"MAC1Tag", ""}},
         nullptr, [] { return true; }},
    };
    for (const auto &row : rows) {
        const QByteArray page = post(save(row.fields));
        ASSERT_TRUE(ok(page)) << row.name;
        if (row.note)
            EXPECT_TRUE(noted(page, QString::fromUtf8(row.note))) << row.name << ": no note";
        else
            EXPECT_FALSE(page.contains("class='refused'")) << row.name << ": a note";
        EXPECT_TRUE(row.kept()) << row.name;
    }
    EXPECT_TRUE(loggedSince(QStringLiteral("no device for the row")));
}
