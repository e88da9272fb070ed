// Posted status forms, sent over a real socket as a browser sends them,
// carried out on the running plug-in against the controller simulator.
#include "FormFixture.h"

#include "bridge/DeviceMessageClass.h"
#include "controller/FrmTimer.h"
#include "controller/PluginSettings.h"
#include "controller/UnitMappings.h"
#include "controller/ui/FrmConfig.h"
#include "web/status/PostedForm.h"
#include "host/Application.h"
#include "host/HostGlobals.h"
#include "host/IR.h"

#include "automation/Dictionary.h"
#include "automation/Dispatch.h"
#include "core/Logging.h"

#include <QElapsedTimer>
#include <QRegularExpression>

namespace {

const QString kHostIni = QStringLiteral("tvkXapKorvane.ini");
const QString kPluginIni = QStringLiteral("xaptvkKorvane.ini");

QString hex2(int v)
{
    return QString::number(v, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

QString varDisp(int n)
{
    return QStringLiteral("V") + QString::number(n) + QLatin1Char(':') + hex2(n + 1);
}

class PostedForm : public FormFixture
{
protected:
    // Display code of point p (0 to 15) of a unit, by its mapping's position.
    QString pointDisp(int unit, int p) const
    {
        for (int k = 0; k < gPlugin.UnitMaps.size(); ++k) {
            if (gPlugin.UnitMaps.at(k).unit == unit) {
                const int n = k * 16 + p;
                return QStringLiteral("X") + QString::number(n) + QLatin1Char(':') + hex2(n + 129);
            }
        }
        return QStringLiteral("<no unit>");
    }
    QString pointCode(int unit, int p) const { return houseOf(unit) + QString::number(p + 1); }

    QString tagOf(const QString &code) { return deviceProperty(code, QStringLiteral("ScriptTag")); }
    QString eventOf(const QString &code) { return deviceProperty(code, QStringLiteral("TriggerEvent")); }
    QString irTag(int loc) const
    {
        return gIRSlots->item(Variant::fromLong(loc + 1)).toObject()->get(QStringLiteral("ScriptTag")).toString();
    }
    void setTag(const QString &code, const QString &tag)
    {
        hs->deviceByCode(code)->let(QStringLiteral("ScriptTag"), Variant(tag));
    }

    // A Save post carrying the option boxes and the given rows.
    static Fields save(const Fields &rows, const Fields &options = {{"IncludeVariables", "1"}, {"IncludeIO", "1"},
                                                                     {"IncludeIR", "1"}})
    {
        Fields f{{"clientinput", "yes"}, {"clientvalue", "yes"}, {"UpdateButton", "Save Changes"}};
        f += options;
        f += rows;
        return f;
    }
    static Fields button(const QString &ci, const QString &dc, const QString &cv, const QString &value = QString())
    {
        Fields f{{"clientinput", ci}, {"clientvalue", cv}, {ci + "DC", dc}, {ci + "Tag", ""}};
        if (!value.isNull())
            f.append({ci + "Value", value});
        return f;
    }
    static bool ok(const QByteArray &reply) { return reply.startsWith("HTTP/1.1 200"); }
};

} // namespace

TEST_F(PostedForm, RowButtonsPutTheirFramesOnTheLine)
{
    startAll();
    selectAndCreate({0, 5}, {{10, 2}, {10, 3}});
    const QString var5 = variableCode(5);
    ASSERT_TRUE(deviceExists(var5));

    // A variable takes the typed level whichever of its buttons is pressed.
    ASSERT_TRUE(ok(post(button(varDisp(5), var5, "ON", "1234"))));
    EXPECT_TRUE(waitFor([&] { return sim->vars[5] == 1234; }));
    ASSERT_TRUE(ok(post(button(varDisp(5), var5, "OFF", ""))));
    EXPECT_TRUE(waitFor([&] { return sim->vars[5] == 0; }));

    // An I/O point: ON sets it, DIM clears it as OFF does.
    const QString disp = pointDisp(10, 2);
    ASSERT_TRUE(ok(post(button(disp, pointCode(10, 2), "ON"))));
    EXPECT_TRUE(waitFor([&] { return sim->pointLevel(10, 2) == 1; }));
    ASSERT_TRUE(ok(post(button(disp, pointCode(10, 2), "DIM", "77"))));
    EXPECT_TRUE(waitFor([&] { return sim->pointLevel(10, 2) == 0; }));

    // An X10 unit, with or without a host device.
    ASSERT_TRUE(ok(post(button("B3", "B3", "ON"))));
    EXPECT_TRUE(waitFor([&] { return sim->x10Units.value("B3") == "on"; }));
    ASSERT_TRUE(ok(post(button("B3", "B3", "OFF"))));
    EXPECT_TRUE(waitFor([&] { return sim->x10Units.value("B3") == "off"; }));

    // A learned IR code plays its location; a macro plays its list in order.
    ASSERT_TRUE(ok(post(button("IR17", "R17", "SEND"))));
    EXPECT_TRUE(waitFor([&] { return sim->irPlayed.contains(17); }));
    sim->irPlayed.clear();
    // The X10 unit M1's row comes first on the page, as it does beside macro 1.
    Fields macro{{"clientinput", "MAC1"}, {"clientvalue", "SEND"}, {"M1DC", "M1"}, {"M1Tag", ""},
                 {"MAC1DC", "3,4,5"}, {"MAC1", "Lights"}, {"N1", "3,4,5"}};
    ASSERT_TRUE(ok(post(macro)));
    EXPECT_TRUE(waitFor([&] { return sim->irPlayed.size() == 3; }));
    EXPECT_EQ(sim->irPlayed, (QList<int>{3, 4, 5}));
    // and the unit's own button still reaches the unit.
    Fields unit = macro;
    unit[0].second = "M1";
    unit[1].second = "ON";
    ASSERT_TRUE(ok(post(unit)));
    EXPECT_TRUE(waitFor([&] { return sim->x10Units.value("M1") == "on"; }));
    EXPECT_EQ(sim->irPlayed, (QList<int>{3, 4, 5}));

    // The send button of an IR-module point plays no IR location.
    sim->irPlayed.clear();
    ASSERT_TRUE(ok(post(button("X17:92", "", "SEND"))));
    EXPECT_TRUE(sim->irPlayed.isEmpty());

    // A column heading or Refresh carries "yes": nothing goes to the controller.
    sim->clearRecord();
    sim->irPlayed.clear();
    const int pages = pagesBuilt;
    ASSERT_TRUE(ok(post({{"clientinput", "yes"}, {"clientvalue", "yes"}, {"Refresh", "Refresh"}})));
    EXPECT_EQ(pagesBuilt, pages + 1);
    waitFor([] { return false; }, 300);
    EXPECT_EQ(sim->count(QuillonSim::FrameKind::Command), 0);
    EXPECT_TRUE(sim->irPlayed.isEmpty());
}

TEST_F(PostedForm, SaveStoresTagsFlagsMacrosSettingsAndCreatesDevices)
{
    startAll();
    selectAndCreate({0, 1}, {{10, 2}});
    gPlugin.IncludeVariables = gPlugin.IncludeIO = gPlugin.IncludeIR = gPlugin.IncludeSetup = true;
    const QString v0 = variableCode(0), v1 = variableCode(1), v7 = variableCode(7);
    setTag(v1, "keepme");
    ASSERT_FALSE(deviceExists(v7));

    Fields rows{{varDisp(0) + "DC", v0},  {varDisp(0) + "Used", "on"},     {varDisp(0) + "Event", "on"},
                {varDisp(0) + "Tag", "hall_temp"},
                // variable 7 had no device: ticking Used creates it
                {varDisp(7) + "DC", ""},  {varDisp(7) + "Used", "on"},      {varDisp(7) + "Tag", ""},
                {pointDisp(10, 2) + "DC", pointCode(10, 2)}, {pointDisp(10, 2) + "Used", "on"},
                {pointDisp(10, 2) + "Tag", "porch"},
                {"IR5DC", "R5"},          {"IR5Tag", "tv_power"},          {"IR5Event", "on"},
                {"MAC0DC", "0"},          {"MAC0", "Movie"},               {"N0", "1,2,3"},
                {"SerialIP", "10.1.2.3"}, {"CommPort", "4002"},           {"poll_interval", "750"},
                {"periodicscriptinterval", "45"}, {"ServerPort", QString::number(webPort)},
                {"Background", "#123456"}, {"StyleSheet", "mine.css"},    {"log_errors", "on"},
                {"Recognition", "on"},    {"ProjectFile", "/tmp/none.qpr"}, {"QPROFile", "q"}, {"IRPROFile", "i"}};
    Fields options{{"IncludeVariables", "1"}, {"IncludeIO", "1"}, {"IncludeIR", "1"}, {"IncludeSetup", "1"},
                   {"ShowOnlyUsed", "1"}};
    const int pages = pagesBuilt;
    const QByteArray page = post(save(rows, options));
    ASSERT_TRUE(ok(page));
    EXPECT_EQ(pagesBuilt, pages + 1);
    // The page built after the post shows what it stored.
    EXPECT_TRUE(page.contains("Tag' value='hall_temp'"));
    EXPECT_TRUE(page.contains("value='750' name='poll_interval'"));
    EXPECT_TRUE(page.contains("name='MAC1' value='Movie'"));

    // Tags and trigger flags of the posted rows; variable 1 was not on the page.
    EXPECT_EQ(tagOf(v0), "hall_temp");
    EXPECT_EQ(eventOf(v0), "True");
    EXPECT_EQ(tagOf(pointCode(10, 2)), "porch");
    EXPECT_EQ(eventOf(pointCode(10, 2)), "False");
    EXPECT_EQ(irTag(5), "tv_power");
    EXPECT_TRUE(deviceExists(v1));
    EXPECT_EQ(tagOf(v1), "keepme");
    EXPECT_TRUE(deviceExists(v7));

    // The tagged records name their points.
    ASSERT_TRUE(gDeviceDictionary->exists(Variant(QStringLiteral("tv_power"))));
    ASSERT_TRUE(gDeviceDictionary->exists(Variant(QStringLiteral("porch"))));
    auto record = [](const QString &tag) {
        return gDeviceDictionary->item(Variant(tag)).toObject()->get(QStringLiteral("DC")).toString();
    };
    EXPECT_EQ(record("tv_power"), "R5");
    EXPECT_EQ(record("porch"), pointCode(10, 2));

    // The macro, the settings and the options reached their files.
    EXPECT_EQ(gIRMacroDictionary->item(Variant(QStringLiteral("Movie"))).toString(), "1,2,3");
    EXPECT_EQ(iniValue(kHostIni, "IRMacro", "Movie"), "1,2,3");
    EXPECT_EQ(iniValue(kHostIni, "tspi_quillon", "SerialIP"), "10.1.2.3");
    EXPECT_EQ(iniValue(kHostIni, "tspi_quillon", "CommPort"), "4002");
    EXPECT_EQ(iniValue(kHostIni, "tspi_quillon", "Background"), "#123456");
    EXPECT_EQ(iniValue(kHostIni, "tspi_quillon", "StyleSheet"), "mine.css");
    EXPECT_EQ(iniValue(kPluginIni, "tspi_quillon", "poll_interval"), "750");
    EXPECT_EQ(gPlugin.PollInterval, "750");
    EXPECT_EQ(iniValue(kPluginIni, "tspi_quillon", "PeriodicScriptInterval"), "45");
    EXPECT_EQ(gPlugin.ScriptPeriod, "45");
    EXPECT_EQ(iniValue(kPluginIni, "tspi_quillon", "DebugLog"), "False");
    EXPECT_EQ(iniValue(kPluginIni, "tspi_quillon", "log_errors"), "1");
    EXPECT_EQ(iniValue(kPluginIni, "tspi_quillon", "log_comms"), "0");
    EXPECT_EQ(gPlugin.LogComms, 0);
    EXPECT_EQ(iniValue(kPluginIni, "tspi_quillon", "Recognition"), "1");
    EXPECT_EQ(iniValue(kPluginIni, "tspi_quillon", "ProjectFile"), "/tmp/none.qpr");
    EXPECT_EQ(iniValue(kPluginIni, "tspi_quillon", "IncludeX10"), "0");
    EXPECT_EQ(iniValue(kPluginIni, "tspi_quillon", "IncludeSetup"), "1");
    EXPECT_EQ(iniValue(kPluginIni, "tspi_quillon", "ShowOnlyUsed"), "1");
    EXPECT_FALSE(gPlugin.IncludeX10);
    EXPECT_TRUE(gPlugin.ShowOnlyUsed);
    EXPECT_EQ(FrmConfig::instance(), nullptr);

    // Unticking Used on a posted row removes its device.
    ASSERT_TRUE(ok(post(save({{varDisp(0) + "DC", v0}, {varDisp(0) + "Tag", "hall_temp"}}))));
    EXPECT_FALSE(deviceExists(v0));
    EXPECT_TRUE(deviceExists(v7));
}

TEST_F(PostedForm, ConflictingRowsAndNonNumericSettingsAreSkippedAndLogged)
{
    startAll();
    selectAndCreate({0}, {});
    gPlugin.IncludeIR = gPlugin.IncludeSetup = true;
    gPlugin.IncludeX10 = true;
    addDevice("M1", 0, "");
    setTag("M1", "x10tag");
    gPlugin.X10Used[size_t(12 * 16)] = true;
    const QString before = iniValue(kPluginIni, "tspi_quillon", "poll_interval");

    Fields rows{// the X10 unit M1 beside macro 1
                {"M1DC", "M1"},          {"M1Used", "on"},      {"M1Tag", "x10tag"},
                {"MAC1DC", "7,8"},       {"MAC1", "Night"},     {"N1", "7,8"},
                {"MAC0DC", "0"},         {"MAC0", "Night"},     {"N0", "9"},  // a name taken twice
                {"IR5000DC", "R5000"},   {"IR5000Tag", "bad"},                // no such slot
                {"IR6DC", "R999"},       {"IR6Tag", "bad"},                   // code and row disagree
                {"poll_interval", "fast"}, {"periodicscriptinterval", "soon"}, {"CommPort", "COM1"},
                {"ServerPort", "99999"}};
    gIRMacroDictionary->add(Variant(QStringLiteral("Old")), Variant(QStringLiteral("7,8")));
    ASSERT_TRUE(ok(post(save(rows, {{"IncludeIR", "1"}, {"IncludeX10", "1"}, {"IncludeSetup", "1"}}))));

    EXPECT_TRUE(deviceExists("M1"));
    EXPECT_EQ(tagOf("M1"), "x10tag");
    EXPECT_TRUE(gPlugin.X10Used[size_t(12 * 16)]);
    // Macro 1 renamed; the duplicate new row skipped, and the Save went on.
    EXPECT_EQ(gIRMacroDictionary->count(), 1);
    EXPECT_EQ(gIRMacroDictionary->item(Variant(QStringLiteral("Night"))).toString(), "7,8");
    EXPECT_EQ(iniValue(kHostIni, "IRMacro", "Old"), "<none>");
    EXPECT_TRUE(loggedSince("Night"));
    EXPECT_EQ(irTag(5), "");
    EXPECT_EQ(irTag(6), "");
    EXPECT_EQ(iniValue(kPluginIni, "tspi_quillon", "poll_interval"), before);
    EXPECT_EQ(gPlugin.PollInterval, "500");
    EXPECT_EQ(iniValue(kPluginIni, "tspi_quillon", "PeriodicScriptInterval"), "<none>");
    EXPECT_TRUE(loggedSince("\"fast\": " + PluginSettings::kPollIntervalRule));
    EXPECT_TRUE(loggedSince("'soon' is not a number"));
    EXPECT_TRUE(loggedSince("'COM1' is not a number"));
    EXPECT_EQ(iniValue(kHostIni, "tspi_quillon", "HTTPPort"), "\"" + QString::number(webPort) + "\"");
    // The later steps ran: the options were stored.
    EXPECT_EQ(iniValue(kPluginIni, "tspi_quillon", "IncludeX10"), "1");
}

// A post of a thousand rows whose tags cannot be stored costs a bounded number of log entries,
// as repeated refusals do, not one a row; the first of them is logged as it stands.
TEST_F(PostedForm, ManyRefusedTextsCostABoundedNumberOfLogEntries)
{
    startAll();
    gPlugin.IncludeIR = true;
    Fields rows;
    for (int loc = 0; loc < 1024; ++loc)
        rows += {{"IR" + QString::number(loc) + "DC", "R" + QString::number(loc)},
                 {"IR" + QString::number(loc) + "Tag", "a;" + QString::number(loc)}};
    ASSERT_TRUE(ok(post(save(rows, {{"IncludeIR", "1"}}))));
    const QStringList bodies = PendingXapBodies();
    int refusals = 0;
    for (qsizetype i = logMark; i < bodies.size(); ++i)
        refusals += bodies.at(i).contains("the tag of the row IR") ? 1 : 0;
    EXPECT_TRUE(loggedSince("the tag of the row IR0 \"a;0\""));
    EXPECT_LE(refusals, 300);
    EXPECT_EQ(irTag(0), "");
    EXPECT_EQ(irTag(1023), "");
}

TEST_F(PostedForm, CrossSitePostIsRefusedAndChangesNothing)
{
    startAll();
    selectAndCreate({0}, {});
    const QString v0 = variableCode(0);
    setTag(v0, "kept");
    const Fields form = save({{varDisp(0) + "DC", v0}, {varDisp(0) + "Used", "on"}, {varDisp(0) + "Tag", "stolen"}});

    const int pages = pagesBuilt;
    QByteArray reply = post(form, "http://evil.example");
    EXPECT_TRUE(reply.startsWith("HTTP/1.1 403")) << reply.left(40).toStdString();
    reply = post(form, "", "Referer: http://evil.example:" + QByteArray::number(webPort) + "/stat\r\n");
    EXPECT_TRUE(reply.startsWith("HTTP/1.1 403"));
    reply = post(form, "null");
    EXPECT_TRUE(reply.startsWith("HTTP/1.1 403"));
    reply = post(form, "http://127.0.0.1:1");
    EXPECT_TRUE(reply.startsWith("HTTP/1.1 403"));
    EXPECT_EQ(tagOf(v0), "kept");
    EXPECT_EQ(iniValue(kPluginIni, "tspi_quillon", "IncludeIR"), "<none>");
    EXPECT_EQ(pagesBuilt, pages); // a refused post gets no page

    // A button from another site sends nothing either.
    sim->clearRecord();
    EXPECT_TRUE(post(button("IR17", "R17", "SEND"), "http://evil.example").startsWith("HTTP/1.1 403"));
    waitFor([] { return false; }, 300);
    EXPECT_FALSE(sim->irPlayed.contains(17));

    // Our own page's post, with Origin, with only a Referer, or with neither.
    EXPECT_TRUE(ok(post(form, "", "Referer: " + ownOrigin() + "/stat\r\n")));
    EXPECT_EQ(tagOf(v0), "stolen");
    setTag(v0, "kept");
    EXPECT_TRUE(ok(post(form, "")));
    EXPECT_EQ(tagOf(v0), "stolen");
}

TEST_F(PostedForm, StalePageChangesOnlyTheRowsItCarried)
{
    startAll();
    selectAndCreate({0, 1, 2}, {});
    gPlugin.IncludeVariables = gPlugin.IncludeIR = true;
    for (int n : {0, 1, 2})
        setTag(variableCode(n), "t" + QString::number(n));
    // The page was built with macros A and B; another client has since added
    // Z in front of them and a tab has renamed nothing.
    gIRMacroDictionary->add(Variant(QStringLiteral("Z")), Variant(QStringLiteral("9")));
    gIRMacroDictionary->add(Variant(QStringLiteral("A")), Variant(QStringLiteral("1")));
    gIRMacroDictionary->add(Variant(QStringLiteral("B")), Variant(QStringLiteral("2")));
    const Fields rows{{varDisp(1) + "DC", variableCode(1)}, {varDisp(1) + "Used", "on"}, {varDisp(1) + "Tag", "new1"},
                      {varDisp(2) + "DC", variableCode(2)}, {varDisp(2) + "Used", "on"}, // its tag box is absent
                      {"MAC1DC", "1"}, {"MAC1", "A2"}, {"N1", "1,1"},
                      {"MAC2DC", "2"}, {"MAC2", ""}, {"N2", "2"},
                      {"MAC0DC", "0"}, {"MAC0", ""}, {"N0", "Undefined"}};
    ASSERT_TRUE(ok(post(save(rows))));
    EXPECT_EQ(tagOf(variableCode(0)), "t0");
    EXPECT_TRUE(deviceExists(variableCode(0)));
    EXPECT_EQ(tagOf(variableCode(1)), "new1");
    EXPECT_EQ(tagOf(variableCode(2)), "t2");
    // Z was not on the page and stays; A renamed, B cleared.
    EXPECT_EQ(gIRMacroDictionary->count(), 2);
    EXPECT_EQ(gIRMacroDictionary->item(Variant(QStringLiteral("Z"))).toString(), "9");
    EXPECT_EQ(gIRMacroDictionary->item(Variant(QStringLiteral("A2"))).toString(), "1,1");
    EXPECT_EQ(iniValue(kHostIni, "IRMacro", "Z"), "9");
    EXPECT_EQ(iniValue(kHostIni, "IRMacro", "B"), "<none>");
}

TEST_F(PostedForm, SaveOnAFullControllerKeepsEveryTag)
{
    for (int unit = 11; unit <= 13; ++unit)
        sim->setUnit(unit, 11);
    startAll();
    QList<int> vars;
    for (int n = 0; n < 128; ++n)
        vars << n;
    QList<QPair<int, int>> points;
    for (int unit : {1, 5, 10, 11, 12, 13})
        for (int p = 0; p < 16; ++p)
            points.append({unit, p});
    selectAndCreate(vars, points);
    for (int h = 0; h < 16; ++h)
        for (int u = 1; u <= 16; ++u) {
            const QString code = QString(QChar('A' + h)) + QString::number(u);
            addDevice(code, 0, "");
            gPlugin.X10Used[size_t(h * 16 + u - 1)] = true;
        }
    gPlugin.IncludeVariables = gPlugin.IncludeIO = gPlugin.IncludeIR = gPlugin.IncludeX10 = true;

    Fields rows;
    QStringList codes;
    for (int n = 0; n < 128; ++n) {
        const QString code = variableCode(n);
        setTag(code, "v" + QString::number(n));
        rows += {{varDisp(n) + "DC", code}, {varDisp(n) + "Used", "on"}, {varDisp(n) + "Tag", "v" + QString::number(n)}};
        codes << code;
    }
    for (const umap &m : gPlugin.UnitMaps) {
        for (int p = 0; p < 16; ++p) {
            const QString code = m.hc + QString::number(p + 1);
            if (!deviceExists(code))
                continue;
            setTag(code, "io" + code);
            rows += {{pointDisp(m.unit, p) + "DC", code}, {pointDisp(m.unit, p) + "Used", "on"},
                     {pointDisp(m.unit, p) + "Tag", "io" + code}};
            codes << code;
        }
    }
    for (int h = 0; h < 16; ++h)
        for (int u = 1; u <= 16; ++u) {
            const QString code = QString(QChar('A' + h)) + QString::number(u);
            setTag(code, "x" + code);
            rows += {{code + "DC", code}, {code + "Used", "on"}, {code + "Tag", "x" + code}};
            codes << code;
        }
    for (int loc = 0; loc < 1024; ++loc)
        rows += {{"IR" + QString::number(loc) + "DC", "R" + QString::number(loc)},
                 {"IR" + QString::number(loc) + "Tag", "ir" + QString::number(loc)}};
    rows += {{"MAC0DC", "0"}, {"MAC0", ""}, {"N0", "Undefined"}};
    ASSERT_GE(codes.size(), 128 + 6 * 16 + 256 - 16);

    ASSERT_TRUE(ok(post(save(rows, {{"IncludeVariables", "1"}, {"IncludeIO", "1"}, {"IncludeIR", "1"},
                                    {"IncludeX10", "1"}}))));
    QStringList lost;
    for (const QString &code : codes) {
        if (!deviceExists(code) || tagOf(code).isEmpty())
            lost << code;
    }
    for (int loc = 0; loc < 1024; ++loc)
        if (irTag(loc) != "ir" + QString::number(loc))
            lost << "R" + QString::number(loc);
    EXPECT_TRUE(lost.isEmpty()) << lost.join(' ').toStdString();
    EXPECT_EQ(tagOf(variableCode(127)), "v127");
    EXPECT_EQ(tagOf("P16"), "xP16");
    EXPECT_TRUE(gDeviceDictionary->exists(Variant(QStringLiteral("ir1023"))));
}

TEST_F(PostedForm, SetupActionsReachTheController)
{
    startAll();
    sim->clock = QDateTime();
    ASSERT_TRUE(ok(post({{"clientinput", "yes"}, {"clientvalue", "yes"}, {"Clock", "Set Clock"}})));
    EXPECT_TRUE(waitFor([&] { return sim->clock.isValid(); }));

    // Sync without a project file changes no device.
    const int devices = hs->DeviceCount();
    ASSERT_TRUE(ok(post({{"clientinput", "yes"}, {"clientvalue", "yes"}, {"Sync", "Sync to System Map"}})));
    EXPECT_EQ(hs->DeviceCount(), devices);

    // The bridge's buttons come before the setup actions and end the post.
    int handled = 0;
    SetPostedFormBridgeCalls({[&] { ++handled; return true; }, {}, {}});
    sim->clock = QDateTime();
    ASSERT_TRUE(ok(post({{"clientinput", "yes"}, {"clientvalue", "yes"}, {"script", "Read Script"}, {"Clock", "x"}})));
    EXPECT_EQ(handled, 1);
    waitFor([] { return false; }, 500);
    EXPECT_FALSE(sim->clock.isValid());
}

TEST_F(PostedForm, ColumnHeadingsStoreTheSortAndAnswerAtOnce)
{
    startAll();
    hs->saveIniSetting(QStringLiteral("tspi_quillon"), QStringLiteral("IncludeVariables"), QStringLiteral("1"), kPluginIni);
    hs->saveIniSetting(QStringLiteral("tspi_quillon"), QStringLiteral("IncludeX10"), QStringLiteral("1"), kPluginIni);
    // A row button waits this long for the next poll, which never comes here.
    if (FrmTimer *f = FrmTimer::instance())
        f->EnablePollTimer(false);
    gPageRefreshWaitMs = 6000;
    auto heading = [&](const char *name) {
        sim->clearRecord();
        QElapsedTimer took;
        took.start();
        const QByteArray reply = post({{"clientinput", "yes"}, {"clientvalue", "yes"}, {name, name}});
        EXPECT_LT(took.elapsed(), 4000) << name << " waited for a poll";
        EXPECT_EQ(sim->count(QuillonSim::FrameKind::Command), 0) << name;
        const QRegularExpressionMatch first = QRegularExpression(QStringLiteral("name='([^']+)DC'")).match(QString::fromLatin1(reply));
        return first.hasMatch() ? first.captured(1) : QStringLiteral("<no row>");
    };
    auto stored = [&] {
        return iniValue(kHostIni, QStringLiteral("tspi_quillon"), QStringLiteral("StatusSortKey")) + QLatin1Char('|')
            + iniValue(kHostIni, QStringLiteral("tspi_quillon"), QStringLiteral("StatusSortDirection"));
    };

    // "ID" is the sort code, the key already in force: its order reverses, and back.
    EXPECT_EQ(heading("ID"), QStringLiteral("V127:80"));
    EXPECT_EQ(stored(), QStringLiteral("\"DCSort\"|\"DESC\""));
    EXPECT_EQ(heading("ID"), QStringLiteral("A1"));
    EXPECT_EQ(stored(), QStringLiteral("\"DCSort\"|\"\""));

    // Another heading sorts ascending by its own key, whatever the direction was.
    heading("ID");
    heading("Name");
    EXPECT_EQ(stored(), QStringLiteral("\"Name\"|\"\""));
    heading("Changed");
    EXPECT_EQ(stored(), QStringLiteral("\"Changed\"|\"\""));
    heading("Changed");
    EXPECT_EQ(stored(), QStringLiteral("\"Changed\"|\"DESC\""));
    for (const char *name : {"Status", "Tag", "Ev", "Used"}) {
        heading(name);
        EXPECT_EQ(stored(), QLatin1Char('"') + QLatin1String(name) + QStringLiteral("\"|\"\""));
    }

    // A key typed into the file in another case counts as the same key.
    hs->saveIniSetting(QStringLiteral("tspi_quillon"), QStringLiteral("StatusSortKey"), QStringLiteral("used"), kHostIni);
    heading("Used");
    EXPECT_EQ(stored(), QStringLiteral("\"Used\"|\"DESC\""));

    // Refresh is no heading: it keeps the sort and takes the row-button path.
    gPageRefreshWaitMs = 300;
    post({{"clientinput", "yes"}, {"clientvalue", "yes"}, {"Refresh", "Refresh"}});
    EXPECT_EQ(stored(), QStringLiteral("\"Used\"|\"DESC\""));
}

namespace {

// A plug-in that keeps the device object each SetIO call was given.
class SetIORecorder : public DispatchObject<SetIORecorder>
{
public:
    static void describe(DispatchTable<SetIORecorder> &t)
    {
        t.name(QStringLiteral("tspi"));
        t.raw(QStringLiteral("SetIO"), [](SetIORecorder &p, CallKind, std::vector<Variant> &args) {
            p.devices.push_back(!args.empty() && args[0].isObject() ? args[0].toObject() : ObjectPtr());
            p.codes.append(args.size() > 2 ? args[1].toString() + args[2].toString() : QString());
            return Variant();
        });
    }
    std::vector<ObjectPtr> devices;
    QStringList codes;
};

} // namespace

TEST_F(PostedForm, RowButtonsHandTheRowsDeviceToSetIO)
{
    startAll();
    selectAndCreate({5}, {{10, 2}});
    const QString var5 = variableCode(5);
    const QString point = pointCode(10, 2);
    ASSERT_TRUE(deviceExists(var5));
    ASSERT_TRUE(deviceExists(point));
    auto deviceOf = [](QString code) {
        qint16 ref = hs->DeviceExists(code);
        return hs->GetDevice(ref);
    };

    const ObjectPtr realPlugin = gPluginInstance;
    auto recorder = std::make_shared<SetIORecorder>();
    gPluginInstance = recorder;
    post(button(varDisp(5), var5, "DIM", "12"));
    post(button(pointDisp(10, 2), point, "ON"));
    // A variable without a host device still gets its command, with no device.
    post(button(varDisp(6), variableCode(6), "ON", "1"));
    gPluginInstance = realPlugin;

    ASSERT_EQ(recorder->devices.size(), 3u);
    EXPECT_EQ(recorder->codes, (QStringList{var5, point, variableCode(6)}));
    ASSERT_TRUE(recorder->devices[0]);
    EXPECT_EQ(recorder->devices[0].get(), deviceOf(var5).get());
    ASSERT_TRUE(recorder->devices[1]);
    EXPECT_EQ(recorder->devices[1].get(), deviceOf(point).get());
    EXPECT_FALSE(recorder->devices[2]);
}

// Two pages built from the same state: the second one's Save makes a device,
// removes one, retags a row and ticks a trigger; the first one's Save (its
// user changed one tag) then undoes none of it.
TEST_F(PostedForm, StalePageTakesOnlyWhatItsUserChanged)
{
    startAll();
    selectAndCreate({0, 1, 2, 5}, {});
    gPlugin.IncludeVariables = true;
    const QString v1 = variableCode(1), v2 = variableCode(2), v5 = variableCode(5), v30 = variableCode(30);
    setTag(v1, "t1");
    setTag(v2, "t2");
    ASSERT_FALSE(deviceExists(v30));
    // Both pages showed these rows: code, Used box, tag and what the row showed.
    auto rows = [&](const QString &tag1, bool event1, const QString &tag2, bool used5, bool used30, const QString &tag30) {
        Fields f{{varDisp(1) + "DC", v1}, {varDisp(1) + "Used", "on"}, {varDisp(1) + "Tag", tag1}, {varDisp(1) + "Shown", "0t1"},
                 {varDisp(2) + "DC", v2}, {varDisp(2) + "Used", "on"}, {varDisp(2) + "Tag", tag2}, {varDisp(2) + "Shown", "0t2"},
                 {varDisp(5) + "DC", v5}, {varDisp(5) + "Tag", ""}, {varDisp(5) + "Shown", "0"},
                 {varDisp(30) + "DC", ""}, {varDisp(30) + "Tag", tag30}, {varDisp(30) + "Shown", "0"}};
        if (event1)
            f.append({varDisp(1) + "Event", "on"});
        if (used5)
            f.append({varDisp(5) + "Used", "on"});
        if (used30)
            f.append({varDisp(30) + "Used", "on"});
        return f;
    };
    // The second page: V30 ticked with a tag typed beside it, V5 unticked, V2 retagged, V1's trigger ticked.
    ASSERT_TRUE(ok(post(save(rows("t1", true, "b2", false, true, "attic"), {{"IncludeVariables", "1"}}))));
    ASSERT_TRUE(deviceExists(v30));
    EXPECT_EQ(tagOf(v30), "attic");
    ASSERT_FALSE(deviceExists(v5));
    EXPECT_EQ(tagOf(v2), "b2");
    EXPECT_EQ(eventOf(v1), "True");

    // The first page, as it was built: only V1's tag edited.
    ASSERT_TRUE(ok(post(save(rows("a1", false, "t2", true, false, ""), {{"IncludeVariables", "1"}}))));
    EXPECT_TRUE(deviceExists(v30)) << "a device made since the page was built was removed";
    EXPECT_EQ(tagOf(v30), "attic");
    EXPECT_FALSE(deviceExists(v5)) << "a device removed since the page was built came back";
    EXPECT_EQ(tagOf(v1), "a1");
    EXPECT_EQ(eventOf(v1), "True");
    EXPECT_EQ(tagOf(v2), "b2");

    // Its user now unticks V5, which is gone already: nothing is made, and the log says why.
    ASSERT_TRUE(ok(post(save(rows("a1", false, "t2", false, false, ""), {{"IncludeVariables", "1"}}))));
    EXPECT_FALSE(deviceExists(v5));
    EXPECT_TRUE(deviceExists(v30));
    EXPECT_TRUE(loggedSince("changed since the page was built"));
}

// A Save while the configuration dialog is loaded with boxes its user has
// not acted on: the page works on its own model, the dialog stays loaded
// with its boxes, and its matrices show the device the Save made.
TEST_F(PostedForm, SaveLeavesAnOpenDialogAndItsModel)
{
    startAll();
    selectAndCreate({0, 1}, {});
    gPlugin.IncludeVariables = true;
    const QString v0 = variableCode(0), v1 = variableCode(1), v7 = variableCode(7), v9 = variableCode(9);
    FrmConfig &dialog = FrmConfig::Load();
    ASSERT_EQ(dialog.matrix.Check1[1], 1);
    dialog.Check1_Click(1, 0); // to remove V1, not yet acted on
    dialog.Check1_Click(9, 1); // to make V9

    ASSERT_TRUE(ok(post(save({{varDisp(0) + "DC", v0}, {varDisp(0) + "Used", "on"}, {varDisp(0) + "Tag", "page"},
                              {varDisp(0) + "Shown", "0"}, {varDisp(7) + "DC", ""}, {varDisp(7) + "Used", "on"},
                              {varDisp(7) + "Tag", ""}, {varDisp(7) + "Shown", "0"}},
                             {{"IncludeVariables", "1"}}))));
    EXPECT_EQ(FrmConfig::instance(), &dialog) << "the Save closed the dialog";
    EXPECT_TRUE(gPlugin.ConfigDialogOpen);
    EXPECT_TRUE(dialog.matrixChanged());
    EXPECT_TRUE(deviceExists(v1)) << "the Save acted on the dialog's unticked box";
    EXPECT_FALSE(deviceExists(v9)) << "the Save acted on the dialog's ticked box";
    EXPECT_TRUE(deviceExists(v7));
    EXPECT_EQ(tagOf(v0), "page");
    // The dialog's boxes: its user's edits kept, the page's new device shown.
    EXPECT_EQ(dialog.matrix.Check1[0], 1);
    EXPECT_EQ(dialog.matrix.Check1[1], 0);
    EXPECT_EQ(dialog.matrix.Check1[9], 1);
    EXPECT_EQ(dialog.matrix.Check1[7], 1);
    EXPECT_TRUE(dialog.Check1Caption[7].contains(v7)) << dialog.Check1Caption[7].toStdString();

    dialog.ResetLoadFlags();
    FrmConfig::Unload();
    EXPECT_TRUE(deviceExists(v1));
}

// The page's option boxes and setup block carry what they showed too: a
// stale page's Save keeps what another page changed since and takes its own
// user's change.
TEST_F(PostedForm, StalePageKeepsOptionsAndSettingsChangedElsewhere)
{
    startAll();
    gPlugin.IncludeSetup = true;
    gPlugin.IncludeIR = false;
    auto page = [](const QString &poll, bool debug, bool includeIR, const QString &background) {
        Fields f{{"IncludeSetup", "1"},       {"IncludeSetupShown", "1"},   {"IncludeIRShown", "0"}, {"IncludeX10Shown", "0"},
                 {"poll_interval", poll},     {"poll_intervalShown", "2000"}, {"DebugLogShown", "0"},
                 {"Background", background},  {"BackgroundShown", "#000000"}};
        if (debug)
            f.append({QStringLiteral("DebugLog"), QStringLiteral("1")});
        if (includeIR)
            f.append({QStringLiteral("IncludeIR"), QStringLiteral("1")});
        return f;
    };
    // Another page: the poll interval, Debug and Include IR changed.
    ASSERT_TRUE(ok(post(save({}, page("750", true, true, "#000000")))));
    ASSERT_EQ(iniValue(kPluginIni, "tspi_quillon", "poll_interval"), "750");
    ASSERT_EQ(iniValue(kPluginIni, "tspi_quillon", "DebugLog"), "True");
    ASSERT_TRUE(gPlugin.IncludeIR);

    // The stale page, with only its background changed.
    ASSERT_TRUE(ok(post(save({}, page("2000", false, false, "#111111")))));
    EXPECT_EQ(iniValue(kPluginIni, "tspi_quillon", "poll_interval"), "750");
    EXPECT_EQ(gPlugin.PollInterval, "750");
    EXPECT_EQ(iniValue(kPluginIni, "tspi_quillon", "DebugLog"), "True");
    EXPECT_TRUE(gPlugin.DebugLogFlag);
    EXPECT_TRUE(gPlugin.IncludeIR);
    EXPECT_EQ(iniValue(kPluginIni, "tspi_quillon", "IncludeIR"), "1");
    EXPECT_EQ(iniValue(kHostIni, "tspi_quillon", "Background"), "#111111");
    // Boxes the pages never showed changed are not written at all.
    EXPECT_EQ(iniValue(kPluginIni, "tspi_quillon", "IncludeX10"), "<none>");
}

// The page takes the poll interval by the dialog's rule: 0 (no polling) to
// 65535 in digits; anything else keeps the stored one, is logged and shown on
// the page built after the Save in the dialog's words.
TEST_F(PostedForm, PollIntervalFollowsTheDialogsRule)
{
    startAll();
    gPlugin.IncludeSetup = true;
    const struct
    {
        const char *typed;
        const char *stored; // nullptr: refused
    } cases[] = {{"0", "0"},    {"65535", "65535"}, {" 250 ", "250"}, {"65536", nullptr},
                 {"-1", nullptr}, {"1e3", nullptr},   {"12.5", nullptr}, {"", nullptr}};
    for (const auto &c : cases) {
        const QString before = iniValue(kPluginIni, "tspi_quillon", "poll_interval");
        const QByteArray page = post(save({{"poll_interval", c.typed}, {"poll_intervalShown", "x"}}));
        ASSERT_TRUE(ok(page)) << c.typed;
        if (c.stored) {
            EXPECT_EQ(iniValue(kPluginIni, "tspi_quillon", "poll_interval"), c.stored) << c.typed;
            EXPECT_EQ(gPlugin.PollInterval, c.stored) << c.typed;
        } else {
            EXPECT_EQ(iniValue(kPluginIni, "tspi_quillon", "poll_interval"), before) << c.typed;
            EXPECT_TRUE(page.contains(PluginSettings::kPollIntervalRule.toLatin1())) << c.typed << ": no note on the page";
            EXPECT_TRUE(loggedSince(PluginSettings::kPollIntervalRule)) << c.typed;
        }
    }
}

// A headless install has no dialog: the page alone must list the points of
// every I/O unit the controller has, devices or not, and a ticked Used box of
// such a point must make its device on the unit it was listed for.
struct UnlistedUnitCase
{
    const char *name;
    QStringList before; // a device before the page: code, iotype and iomisc
    QList<int> order;   // the units the page lists, in order
    int unit, point;    // the point ticked on the page
};

// The simulator's controller: SIO16 at 1, SIO16IR at 3 and 9, SIO16I at 5, RELAY08 at 10.
const UnlistedUnitCase kUnlistedUnitCases[] = {
    {"NoDevicesAtAll", {}, {1, 5, 10}, 5, 2},
    {"AMappedUnitComesFirst", {"]1", "1", "10!13!0!0"}, {10, 1, 5}, 1, 9},
    {"ARelayOfAnUnmappedRly8", {"]4", "0", "5!12!3!0"}, {5, 1, 10}, 10, 3},
};

void PrintTo(const UnlistedUnitCase &c, std::ostream *os)
{
    *os << c.name;
}

class UnitsWithoutDevices : public PostedForm, public ::testing::WithParamInterface<UnlistedUnitCase>
{
};

TEST_P(UnitsWithoutDevices, AreListedAndTheirUsedBoxesMakeTheirDevices)
{
    const UnlistedUnitCase &c = GetParam();
    static const QRegularExpression usedBox(QStringLiteral("name='(X\\d+:[0-9A-F]+)Used'"));
    startAll();
    if (!c.before.isEmpty()) {
        addDevice(c.before[0], c.before[1].toInt(), c.before[2]);
        UnitMappings::ReadUnitMappings();
    }
    // The first Save stores "Include IO"; the page built after it lists the points.
    const QByteArray page = post(save({}, {{"IncludeIO", "1"}}));
    ASSERT_TRUE(ok(page));
    QStringList listed;
    for (auto it = usedBox.globalMatch(QString::fromUtf8(page)); it.hasNext();)
        listed << it.next().captured(1);
    // 16 rows for each SIO16, SIO16I and RLY-8; the SIO16IR units get none.
    ASSERT_EQ(listed.size(), 16 * c.order.size());
    const int n = 16 * int(c.order.indexOf(c.unit)) + c.point;
    const QString disp = QStringLiteral("X") + QString::number(n) + QLatin1Char(':') + hex2(n + 129);
    ASSERT_EQ(listed.at(n), disp);
    ASSERT_TRUE(page.contains(("value='' name='" + disp + "DC'").toUtf8())) << "the row has a device already";

    ASSERT_TRUE(ok(post(save({{disp + "DC", ""}, {disp + "Used", "on"}, {disp + "Tag", ""}}, {{"IncludeIO", "1"}}))));
    const QString code = pointCode(c.unit, c.point);
    ASSERT_TRUE(deviceExists(code)) << code.toStdString();
    EXPECT_TRUE(deviceProperty(code, "iomisc").startsWith(QString::number(c.unit) + "!"));
    // Its unit keeps no point 1 of its own once another point is ticked;
    // the other units keep theirs, as the dialog's Create does.
    EXPECT_FALSE(deviceExists(pointCode(c.unit, 0)));
    EXPECT_EQ(int(gPlugin.UnitMaps.size()), int(c.order.size()));
    if (!c.before.isEmpty())
        EXPECT_TRUE(deviceExists(c.before[0]));

    // The new device mirrors its point.
    const bool input = c.unit == 5 || (c.unit == 1 && c.point < 8);
    sim->setPointLevel(c.unit, c.point, input ? 0 : 1);
    gPlugin.IOPollDue = true;
    form().loop.Timer3_Timer();
    EXPECT_EQ(status(code), 2);
}

INSTANTIATE_TEST_SUITE_P(PostedForm, UnitsWithoutDevices, ::testing::ValuesIn(kUnlistedUnitCases),
                         [](const auto &info) { return std::string(info.param.name); });
