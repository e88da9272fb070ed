// Message model speed and the running program's receive throughput.
// The throughput case starts the real program on loopback and binds the xAP port 3639.
#include "XapListener.h"

#include "core/xap/XapMessage.h"

#include "automation/AnsiCodePage.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <benchmark/benchmark.h>

namespace {

// A typical BSC event of about 300 bytes.
const QString kEvent = QStringLiteral(
    "xap-header\n{\nv=13\nhop=1\nuid=FF.00C7:05\nclass=xAPBSC.event\nsource=tvk.Korvane.homeserver:Lounge.Light.Main\n"
    "target=acme.controller.kitchen\n}\noutput.state\n{\nState=on\nLevel=45/100\nText=Lounge main light at 45 percent\n"
    "DisplayText=Lounge 45%\nID=0A\nTime=6/11/2024 7:45:12 PM\n}\n");

XapMessage buildEvent()
{
    XapMessage m;
    m.setMsgClass(QStringLiteral("xAPBSC.event"));
    m.setMsgSource(QStringLiteral("tvk.Korvane.homeserver:Lounge.Light.Main"));
    m.setMsgTarget(QStringLiteral("acme.controller.kitchen"));
    m.setMsgUID(QStringLiteral("FF.00C7:05"));
    m.Init();
    m.AddHeader();
    m.AddSection(QStringLiteral("output.state"));
    m.AddItem(QString(), QStringLiteral("State"), QStringLiteral("on"));
    m.AddItem(QString(), QStringLiteral("Level"), QStringLiteral("45/100"));
    m.AddItem(QString(), QStringLiteral("Text"), QStringLiteral("Lounge main light at 45 percent"));
    m.AddItem(QString(), QStringLiteral("DisplayText"), QStringLiteral("Lounge 45%"));
    m.AddItem(QString(), QStringLiteral("ID"), QStringLiteral("0A"));
    m.AddItem(QString(), QStringLiteral("Time"), QStringLiteral("6/11/2024 7:45:12 PM"));
    return m;
}

void BM_FromXapGetItem(benchmark::State& state)
{
    for (auto _ : state) {
        XapMessage m;
        m.FromXap(kEvent);
        benchmark::DoNotOptimize(m.GetItem(QStringLiteral("output.state"), QStringLiteral("Level")));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FromXapGetItem);

void BM_ToXap(benchmark::State& state)
{
    for (auto _ : state) {
        XapMessage m = buildEvent();
        benchmark::DoNotOptimize(m.ToXap());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ToXap);

// Every datagram in and out passes through the code page; Latin-1 is the floor to compare with.
void BM_CodePageDatagram(benchmark::State& state)
{
    const QByteArray datagram = AnsiCodePage::encode(kEvent);
    for (auto _ : state) {
        const QString text = AnsiCodePage::decode(datagram);
        benchmark::DoNotOptimize(AnsiCodePage::encode(text));
    }
    state.SetBytesProcessed(state.iterations() * datagram.size());
}
BENCHMARK(BM_CodePageDatagram);

void BM_Latin1Datagram(benchmark::State& state)
{
    const QByteArray datagram = kEvent.toLatin1();
    for (auto _ : state) {
        const QString text = QString::fromLatin1(datagram);
        benchmark::DoNotOptimize(text.toLatin1());
    }
    state.SetBytesProcessed(state.iterations() * datagram.size());
}
BENCHMARK(BM_Latin1Datagram);

// Sends a bounded burst to the running program and times its arrival at the dispatcher
// entry (the program's dispatch trace: one record per text, all of the same size here).
void BM_ReceiveThroughput(benchmark::State& state)
{
    const int burst = int(state.range(0));
    QTemporaryDir dir;
    QFile ini(dir.filePath(QStringLiteral("Config/tvkXap.ini")));
    QDir().mkpath(dir.filePath(QStringLiteral("Config")));
    ini.open(QIODevice::WriteOnly);
    ini.write("[Interface]\nBroadcastAddress=127.0.0.1\nInterfaceAddress=127.0.0.1\n");
    ini.close();
    const QString trace = dir.filePath(QStringLiteral("trace"));

    QUdpSocket listener;
    if (!listener.bind(QHostAddress(QHostAddress::LocalHost), 3639)) {
        state.SkipWithError("the xAP port 3639 is in use");
        return;
    }
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("KORVANE_TRACE_DISPATCH"), trace);
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(KORVANE_EXE), {QStringLiteral("--app-path"), dir.path()});
    if (!waitUntil([&] { return listener.hasPendingDatagrams(); }, 10000)) {
        state.SkipWithError("no heartbeat");
        return;
    }
    QByteArray heartbeat(listener.pendingDatagramSize(), Qt::Uninitialized);
    listener.readDatagram(heartbeat.data(), heartbeat.size());
    const auto m = QRegularExpression(QStringLiteral("\nport=(\\d+)\n")).match(QString::fromLatin1(heartbeat));
    const quint16 port = quint16(m.captured(1).toUInt());

    const QByteArray datagram = kEvent.toLatin1();
    const qint64 record = QByteArray::number(datagram.size()).size() + 1 + datagram.size();
    QUdpSocket sender;
    qint64 delivered = 0;
    double lossTotal = 0;
    for (auto _ : state) {
        const qint64 before = QFileInfo(trace).size() / record;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < burst; ++i)
            sender.writeDatagram(datagram, QHostAddress(QHostAddress::LocalHost), port);
        qint64 arrived = 0;
        qint64 last = -1;
        QElapsedTimer still;
        still.start();
        // Done when all arrived, or when nothing more came for half a second (loss).
        waitUntil([&] {
            arrived = QFileInfo(trace).size() / record - before;
            if (arrived != last) {
                last = arrived;
                still.restart();
            }
            return arrived >= burst || still.elapsed() > 500;
        }, 60000);
        const double seconds = double(arrived >= burst ? clock.nsecsElapsed() : clock.nsecsElapsed() - 500e6) / 1e9;
        state.SetIterationTime(seconds);
        delivered += arrived;
        lossTotal += double(burst - arrived);
    }
    state.SetItemsProcessed(delivered);
    state.counters["lost"] = benchmark::Counter(lossTotal, benchmark::Counter::kAvgIterations);
    program.terminate();
    program.waitForFinished(10000);
}
BENCHMARK(BM_ReceiveThroughput)->Arg(5000)->Arg(20000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
