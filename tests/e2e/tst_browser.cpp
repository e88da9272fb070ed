// The status page in a real browser: the system's Chromium, driven headless by
// tests/browser/status_page.js, against the whole program and the controller
// simulator on loopback. Screenshots land in this test's build folder.
#include "BridgeRig.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

namespace {

const QString kChromium = QStringLiteral("/usr/bin/chromium");

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QString screenshot(const QString &name)
{
    return QStringLiteral(KORVANE_SCREENSHOT_DIR "/") + name + QStringLiteral(".png");
}

class BrowserTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!QFileInfo::exists(kChromium))
            GTEST_SKIP() << "no Chromium at " << kChromium.toStdString() << ": tools/deps.sh installs it";
        node = QStandardPaths::findExecutable(QStringLiteral("node"));
        ASSERT_FALSE(node.isEmpty()) << "no node on PATH: tools/deps.sh installs it";
        ASSERT_TRUE(QFileInfo::exists(QStringLiteral(KORVANE_BROWSER_DIR "/node_modules/playwright-core/package.json")))
            << "playwright-core is not installed in tests/browser: run tools/deps.sh";
        httpPort = freePort();
        ASSERT_GT(httpPort, 0);
        rig.bridgeSettings = "HTTPPort=" + QByteArray::number(httpPort) + "\r\n";
        rig.pluginSettings += "IncludeVariables=1\r\nIncludeX10=1\r\nIncludeIO=1\r\n";
    }

    bool start()
    {
        if (!rig.start())
            return false;
        return waitUntil([this] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, httpPort);
            return probe.waitForConnected(200);
        }, 30000);
    }

    QString url() const { return QStringLiteral("http://127.0.0.1:%1/status").arg(httpPort); }

    // Runs one case of the browser script while this process keeps serving the
    // simulator and the listener; true when the case passed.
    bool browse(QJsonObject options)
    {
        options.insert(QStringLiteral("url"), url());
        options.insert(QStringLiteral("chromium"), kChromium);
        options.insert(QStringLiteral("xapPort"), int(rig.port));
        QProcess script;
        script.setProcessChannelMode(QProcess::MergedChannels);
        script.setWorkingDirectory(QStringLiteral(KORVANE_BROWSER_DIR));
        script.start(node, {QStringLiteral(KORVANE_BROWSER_DIR "/status_page.js"),
                            QString::fromUtf8(QJsonDocument(options).toJson(QJsonDocument::Compact))});
        if (!script.waitForStarted(10000)) {
            output = "node did not start";
            return false;
        }
        const bool ended = waitUntil([&] { return script.state() == QProcess::NotRunning; }, 180000);
        if (!ended) {
            script.kill();
            script.waitForFinished(5000);
        }
        output = script.readAll();
        return ended && script.exitStatus() == QProcess::NormalExit && script.exitCode() == 0;
    }

    QString node;
    quint16 httpPort = 0;
    BridgeRig rig;
    QByteArray output;
};

TEST_F(BrowserTest, PageLoadsAsTheStatusPage)
{
    ASSERT_TRUE(start());
    EXPECT_TRUE(browse({{"case", "load"}, {"screenshot", screenshot(QStringLiteral("status-page"))}}))
        << output.constData();
    EXPECT_TRUE(QFileInfo(screenshot(QStringLiteral("status-page"))).size() > 0);
}

} // namespace
