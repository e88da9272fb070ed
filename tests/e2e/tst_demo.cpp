// The demo as the run command starts it: the demo folder's files, the
// simulator executable as the controller, the program; a newcomer sees a
// live controller on xAP within half a minute.
#include "KorvaneProcess.h"
#include "XapListener.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

QString item(const QByteArray& datagram, const QString& key)
{
    const QRegularExpression re("\n" + QRegularExpression::escape(key) + "=([^\n]*)\n",
                                QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(QString::fromLatin1(datagram));
    return m.hasMatch() ? m.captured(1) : QString();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Copies the demo's Config and Scripts as the run command does.
void copyDemo(const ProgramFolder& folder)
{
    const QDir demo(QStringLiteral(KORVANE_DEMO_DIR));
    for (const QString& sub : {QStringLiteral("Config"), QStringLiteral("Scripts")}) {
        QDirIterator it(demo.filePath(sub), QDir::Files);
        while (it.hasNext()) {
            const QString file = it.next();
            folder.writeFile(sub + "/" + QFileInfo(file).fileName(), readFile(file));
        }
    }
}

class DemoTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        if (program)
            EXPECT_EQ(program->terminate(), 0);
        if (sim.state() == QProcess::Running) {
            sim.kill();
            sim.waitForFinished(5000);
        }
    }
    // Starts the simulator as the run command does; returns its port.
    int startSimulator()
    {
        sim.start(QStringLiteral(QUILLONSIM_EXE), {"--tcp", "0", "--paced"});
        if (!sim.waitForStarted(10000))
            return 0;
        QByteArray out;
        QElapsedTimer t;
        t.start();
        while (!out.contains('\n') && t.elapsed() < 10000) {
            sim.waitForReadyRead(200);
            out += sim.readAllStandardOutput();
        }
        const QRegularExpressionMatch m =
            QRegularExpression("listening on 127\\.0\\.0\\.1:(\\d+)").match(QString::fromLatin1(out));
        return m.hasMatch() ? m.captured(1).toInt() : 0;
    }

    ProgramFolder folder;
    QProcess sim;
    std::unique_ptr<KorvaneProcess> program;
};

TEST_F(DemoTest, DemoFolderStaysOnLoopbackAndHoldsTheControllersDevices)
{
    const QByteArray xap = readFile(QStringLiteral(KORVANE_DEMO_DIR) + "/Config/tvkXap.ini");
    EXPECT_TRUE(xap.contains("BroadcastAddress=127.0.0.1"));
    EXPECT_TRUE(xap.contains("InterfaceAddress=127.0.0.1"));
    const QList<QByteArray> store = readFile(QStringLiteral(KORVANE_DEMO_DIR) + "/Config/tvkXapKorvane.ini").split('\n');
    int variables = 0, inputs = 0, outputs = 0;
    for (const QByteArray& line : store) {
        const QList<QByteArray> f = line.mid(line.indexOf('=') + 1).trimmed().split(';');
        if (f.size() != 13 || f[2] != "Veltro Quillon")
            continue;
        variables += f[3] == "3";
        inputs += f[3] == "0";
        outputs += f[3] == "1";
    }
    EXPECT_EQ(variables, 128);
    EXPECT_EQ(inputs, 8 + 16);
    EXPECT_EQ(outputs, 8 + 8);
    EXPECT_TRUE(QFile::exists(QStringLiteral(KORVANE_DEMO_DIR) + "/Scripts/xaptvkKorvane.txt"));
}

TEST_F(DemoTest, LiveControllerOnXapWithinHalfAMinute)
{
    XapListener listener;
    ASSERT_TRUE(listener.bound);
    const int simPort = startSimulator();
    ASSERT_GT(simPort, 0) << "the simulator did not start";
    copyDemo(folder);
    QByteArray store = readFile(folder.path() + "/Config/tvkXapKorvane.ini");
    ASSERT_TRUE(store.contains("CommPort=10001"));
    store.replace("CommPort=10001", "CommPort=" + QByteArray::number(simPort));
    folder.writeFile("Config/tvkXapKorvane.ini", store);

    QElapsedTimer clock;
    clock.start();
    program = std::make_unique<KorvaneProcess>(folder);
    ASSERT_TRUE(listener.waitForCount(1));
    const QByteArray heartbeat = listener.received.first();
    const QString source = item(heartbeat, "source");
    const quint16 port = quint16(item(heartbeat, "port").toUInt());
    ASSERT_GT(port, 0);

    QUdpSocket sender;
    auto query = [&] {
        const QByteArray q = "xap-header\n{\nv=13\nhop=1\nuid=FF.1234:00\nclass=xAPBSC.query\nsource=acme.demo.test\n"
                             "target="
            + source.toLatin1() + ":hall_temperature.>\n}\nrequest\n{\n}\n";
        sender.writeDatagram(q, QHostAddress(QHostAddress::LocalHost), port);
    };
    auto ofClass = [&](const QString& cls) {
        QList<QByteArray> out;
        for (const QByteArray& d : listener.received)
            if (item(d, "class").compare(cls, Qt::CaseInsensitive) == 0)
                out << d;
        return out;
    };
    qint64 lastQuery = -1000;
    const bool live = waitUntil(
        [&] {
            if (clock.elapsed() - lastQuery >= 1000) {
                lastQuery = clock.elapsed();
                query();
            }
            return !ofClass("xAPBSC.info").isEmpty() && !ofClass("xAPBSC.event").isEmpty();
        },
        30000);
    EXPECT_TRUE(live) << "after " << clock.elapsed() << " ms: " << ofClass("xAPBSC.info").size() << " answers, "
                      << ofClass("xAPBSC.event").size() << " events";
    ASSERT_FALSE(ofClass("xAPBSC.info").isEmpty());
    const QByteArray answer = ofClass("xAPBSC.info").first();
    EXPECT_TRUE(item(answer, "source").startsWith(source + ":Hall_Temperature.", Qt::CaseInsensitive))
        << answer.constData();
    EXPECT_FALSE(item(answer, "Level").isEmpty()) << "a variable answers with its level";
    for (const QByteArray& d : listener.received)
        EXPECT_TRUE(item(d, "source").startsWith(source) || item(d, "source") == "acme.demo.test");
}

} // namespace
