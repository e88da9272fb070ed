// The status page in a real browser: the system's Chromium, driven headless by
// tests/browser/status_page.js, against the whole program and the controller
// simulator on loopback. Screenshots land in this test's build folder.
#include "BrowserScript.h"
#include "BridgeRig.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTcpSocket>

#include <gtest/gtest.h>

namespace {

using BrowserScript::kChromium;

QString screenshot(const QString &name)
{
    return QStringLiteral(KORVANE_SCREENSHOT_DIR "/") + name + QStringLiteral(".png");
}

class BrowserTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_BROWSER_DRIVER(node);
        rig.serveWeb = true;
        rig.pluginSettings += "IncludeVariables=1\r\nIncludeX10=1\r\nIncludeIO=1\r\n";
        // The demo's stylesheet, so that the screenshots are readable.
        QFile css(QStringLiteral(KORVANE_DEMO_DIR "/HTML/xaptvkKorvane/StyleNoBody.css"));
        ASSERT_TRUE(css.open(QIODevice::ReadOnly));
        rig.folder.writeFile(QStringLiteral("HTML/xaptvkKorvane/StyleNoBody.css"), css.readAll());
    }

    bool start()
    {
        if (!rig.start())
            return false;
        return waitUntil([this] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, rig.webPort);
            return probe.waitForConnected(200);
        }, 30000);
    }

    QString url() const { return QStringLiteral("http://127.0.0.1:%1/status").arg(rig.webPort); }

    // Runs one case of the browser script while this process keeps serving the
    // simulator and the listener; true when the case passed.
    bool browse(QJsonObject options)
    {
        options.insert(QStringLiteral("url"), url());
        options.insert(QStringLiteral("xapPort"), int(rig.port));
        return BrowserScript::run(node, options, output);
    }

    QString node;
    BridgeRig rig;
    QByteArray output;
};

TEST_F(BrowserTest, PageLoadsAsTheStatusPage)
{
    ASSERT_TRUE(start());
    // The rig's controller: its two variables, its X10 units and its SIO16's points.
    const QJsonArray shown{"Korvane X10, IR, Variables and IO Points", "Hall Temp", "Cellar Level", "V4:05", "V64:41",
                           "Garden Lamp", "A5", "Door Contact", "Porch Light", "X8:89"};
    // A variable gets OFF, DIM and ON; an SIO16's output point OFF and ON; its input point none.
    const QJsonArray buttons{QJsonArray{"V4:05", QJsonArray{"OFF", "DIM", "ON"}},
                             QJsonArray{"X8:89", QJsonArray{"OFF", "ON"}}, QJsonArray{"X0:81", QJsonArray{}}};
    EXPECT_TRUE(browse({{"case", "load"}, {"expectText", shown}, {"buttons", buttons},
                        {"screenshot", screenshot(QStringLiteral("status-page"))}}))
        << output.constData();
    EXPECT_TRUE(QFileInfo(screenshot(QStringLiteral("status-page"))).size() > 0);
}

// The store line of a device code, split into its fields; empty when missing.
QStringList storedDevice(const ProgramFolder &folder, const QByteArray &code)
{
    QFile f(folder.path() + QStringLiteral("/Config/tvkXapKorvane.ini"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(code + '='))
            return QString::fromLatin1(line.mid(code.size() + 1).trimmed()).split(QLatin1Char(';'));
    }
    return {};
}

TEST_F(BrowserTest, VariableControlReachesTheControllerAndThePage)
{
    ASSERT_TRUE(start());
    const int commandsBefore = rig.sim.count(QuillonSim::FrameKind::Command);
    EXPECT_TRUE(browse({{"case", "variable"}, {"row", "V4:05"}, {"value", 42},
                        {"screenshot", screenshot(QStringLiteral("status-page-variable"))}}))
        << output.constData();
    EXPECT_GT(rig.sim.count(QuillonSim::FrameKind::Command), commandsBefore) << "no command frame on the line";
    EXPECT_EQ(rig.sim.vars[4], 42);
}

TEST_F(BrowserTest, TagSavedFromThePageReachesTheStore)
{
    ASSERT_TRUE(start());
    EXPECT_TRUE(browse({{"case", "tag"}, {"row", "V4:05"}, {"tag", "Hall_Probe"}})) << output.constData();
    const QStringList hall = storedDevice(rig.folder, "Q5");
    ASSERT_EQ(hall.size(), 13) << hall.join(';').toStdString();
    EXPECT_EQ(hall.at(11), QStringLiteral("Hall_Probe"));
    EXPECT_EQ(hall.at(1), QStringLiteral("Temp"));
}

TEST_F(BrowserTest, FilterAddedOnThePageCatchesAMessage)
{
    ASSERT_TRUE(start());
    const QByteArray report = rig.message(QStringLiteral("weather.report"), QString(),
                                          {{"weather", {"temperature=21.5", "wind=SW 3"}}},
                                          QStringLiteral("acme.weather.garden"));
    QJsonArray items;
    items.append(QJsonArray{"weather.temperature", "21.5"});
    items.append(QJsonArray{"weather.wind", "SW 3"});
    EXPECT_TRUE(browse({{"case", "filter"}, {"source", "acme.weather.garden"}, {"cls", "weather.report"},
                        {"filterTag", "Garden Weather"}, {"datagram", QString::fromLatin1(report)}, {"items", items},
                        {"screenshot", screenshot(QStringLiteral("status-page-filter"))}}))
        << output.constData();
}

// A press of a column heading as the browser script expects it: the key the
// page is then sorted by, and its direction.
QJsonObject press(const char *heading, const char *key, const char *direction, const char *first = nullptr)
{
    QJsonObject step{{"press", heading}, {"key", key}, {"direction", direction}};
    if (first)
        step.insert(QStringLiteral("first"), first);
    return step;
}

// The value of a key of [tspi_quillon] in the device store's file, as stored.
QString storedSetting(const ProgramFolder &folder, const QByteArray &key)
{
    QFile f(folder.path() + QStringLiteral("/Config/tvkXapKorvane.ini"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("<no file>");
    bool inSection = false;
    for (const QByteArray &raw : f.readAll().split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('['))
            inSection = line.compare("[TSPI_QUILLON]", Qt::CaseInsensitive) == 0;
        else if (inSection && line.startsWith(key + '='))
            return QString::fromLatin1(line.mid(key.size() + 1));
    }
    return QStringLiteral("<none>");
}

TEST_F(BrowserTest, ColumnHeadingsSortThePageAndTheOrderIsKept)
{
    // Tags on some of the rig's devices, so that the tag order shows.
    rig.store = BridgeRig::defaultStore()
                    .replace("Q5=Hall;Temp;Veltro Quillon;3;;0;Variable;3;21;;;;False",
                             "Q5=Hall;Temp;Veltro Quillon;3;;0;Variable;3;21;;;beta;False")
                    .replace("R1=Cellar;Level;Veltro Quillon;3;;0;Variable;3;0;;;;False",
                             "R1=Cellar;Level;Veltro Quillon;3;;0;Variable;3;0;;;Alpha;False")
                    .replace("A5=Garden;Lamp;Veltro Quillon;0;;0;X10;3;0;;;;False",
                             "A5=Garden;Lamp;Veltro Quillon;0;;0;X10;3;0;;;gamma;False");
    ASSERT_TRUE(rig.store.contains("Alpha"));
    ASSERT_TRUE(start());
    // A variable that changes gives the page a change time to sort by.
    rig.sim.vars[4] = 33;
    ASSERT_TRUE(rig.waitFor(QStringLiteral("xapBSC.event"), 1));
    const int commands = rig.sim.count(QuillonSim::FrameKind::Command);
    const int longFrames = rig.sim.count(QuillonSim::FrameKind::LongFrame);

    const QJsonArray steps{press("ID", "DCSort", "DESC", "X15:90"), press("ID", "DCSort", "", "A1"),
                           press("Name", "Name", ""),                press("Name", "Name", "DESC", "V4:05"),
                           press("Tag", "Tag", ""),                  press("Tag", "Tag", "DESC", "A5"),
                           press("Used", "Used", ""),                press("Used", "Used", "DESC"),
                           press("Changed", "Changed", ""),          press("Changed", "Changed", "DESC", "V4:05"),
                           press("Status", "Status", ""),            press("Status", "Status", "DESC"),
                           press("Ev", "Ev", ""),                    press("Ev", "Ev", "DESC"),
                           press("Name", "Name", ""),                press("Name", "Name", "DESC", "V4:05")};
    EXPECT_TRUE(browse({{"case", "sort"}, {"steps", steps},
                        {"screenshot", screenshot(QStringLiteral("status-page-sorted"))}}))
        << output.constData();
    // A heading post carries no command: nothing went to the controller for any of them.
    EXPECT_EQ(rig.sim.count(QuillonSim::FrameKind::Command), commands);
    EXPECT_EQ(rig.sim.count(QuillonSim::FrameKind::LongFrame), longFrames);
    EXPECT_EQ(storedSetting(rig.folder, "StatusSortKey"), QStringLiteral("\"Name\""));
    EXPECT_EQ(storedSetting(rig.folder, "StatusSortDirection"), QStringLiteral("\"DESC\""));

    // After a restart the page comes up in the stored order.
    ASSERT_TRUE(rig.restart());
    ASSERT_TRUE(waitUntil([this] {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, rig.webPort);
        return probe.waitForConnected(200);
    }, 30000));
    const QJsonArray kept{QJsonObject{{"key", "Name"}, {"direction", "DESC"}, {"first", "V4:05"}}};
    EXPECT_TRUE(browse({{"case", "sort"}, {"steps", kept}})) << output.constData();
}

TEST_F(BrowserTest, HostileStoredTextsDoNotRunInThePage)
{
    const QString name = QStringLiteral("<img data-probe src=x onerror=window.__xss=1>");
    const QString location = QStringLiteral("x'><b data-probe>");
    const QString tag = QStringLiteral("a' data-probe autofocus onfocus='window.__xss=3");
    const QString source = QStringLiteral("probe.src'><b data-probe>x");
    const QString cls = QStringLiteral("probe.class</td><i data-probe>");
    const QString filterTag = QStringLiteral("t'><u data-probe>");
    const QString stored = QStringLiteral("<img data-probe src=y onerror=window.__xss=4>");
    const QByteArray hostile = "R1=" + location.toLatin1() + ';' + name.toLatin1() + ";Veltro Quillon;3;;0;Variable;3;0;;;"
        + tag.toLatin1() + ";False\r\n";
    rig.store = BridgeRig::defaultStore().replace("R1=Cellar;Level;Veltro Quillon;3;;0;Variable;3;0;;;;False\r\n", hostile)
        + "[General]\r\nShowReceiveMessages=True\r\nShowReceiveDetail=True\r\n"
          "[Received]\r\nacme.probe.sender~probe.report=Probe_Tag;\r\n"
        + source.toLatin1() + '~' + cls.toLatin1() + '=' + filterTag.toLatin1() + ";1\r\n"
        + "[Devices]\r\nProbe_Tag=1/1/2000\r\n";
    ASSERT_TRUE(rig.store.contains(tag.toLatin1()));
    ASSERT_TRUE(start());
    const QByteArray report = rig.message(QStringLiteral("probe.report"), QString(),
                                          {{"probe", {QStringLiteral("note=") + stored}}},
                                          QStringLiteral("acme.probe.sender"));
    QJsonArray inputs;
    inputs.append(QJsonArray{"input[name=\"V64:41Tag\"]", tag});
    inputs.append(QJsonArray{"input[name=\"Source2\"]", source});
    inputs.append(QJsonArray{"input[name=\"Class2\"]", cls});
    inputs.append(QJsonArray{"input[name=\"FilterTag2\"]", filterTag});
    EXPECT_TRUE(browse({{"case", "xss"}, {"datagram", QString::fromLatin1(report)},
                        {"waitForText", QJsonArray{name, location, stored}}, {"inputValues", inputs},
                        {"screenshot", screenshot(QStringLiteral("status-page-probes"))}}))
        << output.constData();
}

} // namespace
