// Floods of every message class the program carries out, in every shape: one
// sender, many senders, a target that matches nothing, wildcards, the largest
// message, invalid messages, a steady stream, a burst that a receive filter
// hands to a slow user script, datagrams of thousands of blocks and a stream to
// hundreds of targets. After each burst the program answers an echo within a
// bound measured against a quiet echo of the same run, logs its refusals once
// per burst, and its memory stays bounded. A class the dispatcher learns adds
// its entry to kClasses.
#include "BridgeRig.h"
#include "PrivateNetwork.h"

#include <QThread>

#include <cstdio>
#include <functional>
#include <optional>

#include <gtest/gtest.h>

namespace {

enum class Shape { OneSource, ManySources, NoMatch, Wildcards, Largest, Invalid, Stream, Filtered, ManyBlocks, Targets };

const struct
{
    Shape shape;
    const char *name;
    int count; // messages in the burst (the stream sends for kStreamMs instead)
} kShapes[] = {
    {Shape::OneSource, "one source", 1500},  {Shape::ManySources, "many sources", 1500},
    {Shape::NoMatch, "no match", 1500},      {Shape::Wildcards, "wildcards", 1500},
    {Shape::Largest, "largest", 25},         {Shape::Invalid, "invalid", 1500},
    {Shape::Stream, "stream", 0},            {Shape::Filtered, "filtered, slow script", 2000},
    {Shape::ManyBlocks, "many blocks", 200}, {Shape::Targets, "500 targets", 1500},
};

// A steady stream lasts this long (the sanitizer build is slow: long enough
// for the receive queue to fill many times over, short enough for the suite).
constexpr int kStreamMs = 4000;
constexpr int kStreamPerSecond = 250;
// Targets of the "500 targets" burst, each named in turn.
constexpr int kDistinctTargets = 500;
// A datagram of the "many blocks" burst holds about this much.
constexpr int kManyBlocksBytes = 60000;
// The receive filter hands the "filtered" burst to this script; each run takes some 6 ms.
const QByteArray kSlowScript = "Sub Main(tag)\r\n"
                               "  t = Timer\r\n"
                               "  Do While Timer - t < 0.006 And Timer >= t\r\n"
                               "  Loop\r\n"
                               "End Sub\r\n";
// Log broadcasts one burst may cause: one per kind of refusal, a few kinds.
constexpr int kMostLogsPerBurst = 8;
// How long an echo answer is waited for: long enough for a machine that
// leaves the program a small share of a processor; the bound is on the
// program's own part of the wait.
constexpr int kEchoTimeoutMs = 60000;
constexpr qint64 kMostGrowthKb = 160 * 1024;

using Blocks = QList<QPair<QString, QStringList>>;

// What one message of a class says, for a shape and its number in the burst.
struct Parts
{
    QString target; // empty: the class's own default
    Blocks blocks;
    QString source; // empty: the shape's
};

struct MessageClass
{
    const char *cls;
    // The target a valid message of the class names by default ("" for none).
    std::function<QString(const BridgeRig &)> target;
    std::function<Parts(const BridgeRig &, Shape, int)> parts;
};

QString padding(int size)
{
    return QStringLiteral("Note=") + QString(size, QLatin1Char('p'));
}

// Every unit of house A, each in use: a request may name sixteen units.
const QString kAllUnits = [] {
    QStringList units;
    for (int u = 1; u <= 16; ++u)
        units << QStringLiteral("A%1").arg(u);
    return QStringLiteral("Device=") + units.join(QLatin1Char(','));
}();

QString own(const BridgeRig &rig, const QString &sub = QStringLiteral(">"))
{
    return rig.source + QLatin1Char(':') + sub;
}

const MessageClass kClasses[] = {
    {"xAPBSC.cmd", [](const BridgeRig &rig) { return own(rig, QStringLiteral("hall_temp.>")); },
     [](const BridgeRig &rig, Shape shape, int i) -> Parts {
         switch (shape) {
         case Shape::NoMatch:
             return {own(rig, QStringLiteral("nomatch%1.>").arg(i)), {{"output.state.1", {"ID=*", "Level=1"}}}, {}};
         case Shape::Wildcards:
             return {own(rig), {{"output.state.1", {"ID=*", QStringLiteral("Level=%1").arg(i % 2)}}}, {}};
         case Shape::Largest: {
             Blocks blocks;
             for (int n = 1; n <= 1000; ++n)
                 blocks.append({QStringLiteral("output.state.%1").arg(n), {"ID=*", QStringLiteral("Level=%1").arg(n)}});
             return {own(rig), blocks, {}};
         }
         case Shape::Invalid: {
             const QStringList bad[] = {{"ID=05", "Level=1e400"}, {"ID=05", "Level=1e10"}, {"ID=zz"}, {"State=on"}};
             return {{}, {{"output.state.1", bad[i % 4]}}, {}};
         }
         case Shape::Stream:
             return {{}, {{"output.state.1", {"ID=05", QStringLiteral("Level=%1").arg(i % 100), padding(220)}}}, {}};
         default:
             return {{}, {{"output.state.1", {"ID=05", QStringLiteral("Level=%1").arg(i % 100)}}}, {}};
         }
     }},
    {"xAPBSC.query", [](const BridgeRig &) { return QStringLiteral(">:>"); },
     [](const BridgeRig &, Shape shape, int i) -> Parts {
         switch (shape) {
         case Shape::NoMatch:
             return {QStringLiteral(">:nomatch%1.>").arg(i), {{"request", {}}}, {}};
         case Shape::Wildcards:
             return {QStringLiteral("*.*.*:*.*.*"), {{"request", {}}}, QStringLiteral("acme.w%1.pc").arg(i)};
         case Shape::Largest:
             return {{}, {{"request", {padding(60000)}}}, QStringLiteral("acme.l%1.pc").arg(i)};
         case Shape::Invalid:
             return {i % 2 ? QStringLiteral(">") : QStringLiteral(">:a.b.c.d.e.f.g"), {{"request", {}}}, {}};
         default:
             return {{}, {{"request", {}}}, {}};
         }
     }},
    {"xap-x10.request", [](const BridgeRig &) { return QString(); },
     [](const BridgeRig &, Shape shape, int i) -> Parts {
         const QString command = i % 2 ? QStringLiteral("Command=on") : QStringLiteral("Command=off");
         switch (shape) {
         case Shape::NoMatch:
             return {QStringLiteral(">:nomatch%1.>").arg(i), {{"xap-x10.request", {"Device=A5", command}}}, {}};
         case Shape::Wildcards:
             return {QStringLiteral("*.*.*"), {{"xap-x10.request", {kAllUnits, command}}}, {}};
         case Shape::Largest:
             return {{}, {{"xap-x10.request", {kAllUnits, command, padding(60000)}}}, {}};
         case Shape::Invalid: {
             const QString bad[] = {QStringLiteral("Device=") + QStringList(2001, QStringLiteral("A5")).join(','),
                                    QStringLiteral("Device=A99"), QStringLiteral("Device=Q5")};
             return {{}, {{"xap-x10.request", {bad[i % 3], command}}}, {}};
         }
         default:
             return {{}, {{"xap-x10.request", {kAllUnits, command}}}, {}};
         }
     }},
    {"IR.Transmit", [](const BridgeRig &) { return QString(); },
     [](const BridgeRig &, Shape shape, int i) -> Parts {
         switch (shape) {
         case Shape::NoMatch:
             return {QStringLiteral(">:nomatch%1.>").arg(i), {{"IR.Signal", {"Device=TV", "Signal=Power", "Location=7"}}}, {}};
         case Shape::Wildcards:
             return {QStringLiteral("*"), {{"IR.Signal", {"Device=*", "Signal=*", "Location=7", "Zone=*"}}}, {}};
         case Shape::Largest:
             return {{}, {{"IR.Signal", {"Device=TV", "Signal=Power", "Location=7", padding(60000)}}}, {}};
         case Shape::Invalid:
             return {{}, {{"IR.Signal", {i % 2 ? "Location=99999999999" : "Location=abc", "Zone=1e400"}}}, {}};
         default:
             return {{}, {{"IR.Signal", {"Device=TV", "Signal=Power", QStringLiteral("Location=%1").arg(i % 20)}}}, {}};
         }
     }},
    {"Tessera.IR", [](const BridgeRig &) { return QString(); },
     [](const BridgeRig &, Shape shape, int i) -> Parts {
         switch (shape) {
         case Shape::Largest:
             return {{}, {{"IR.Transmit", {"Location=5", "Zone=2", padding(60000)}}}, {}};
         case Shape::Invalid:
             return {{}, {{"IR.Transmit", {"Location=5", "Zone=1e400"}}}, {}};
         case Shape::NoMatch:
             return {QStringLiteral(">:nomatch%1.>").arg(i), {{"IR.Transmit", {"Location=5"}}}, {}};
         default:
             return {{}, {{"IR.Transmit", {QStringLiteral("Location=%1").arg(i % 20), "Zone=2"}}}, {}};
         }
     }},
    {"Tessera.Role", [](const BridgeRig &) { return QString(); },
     [](const BridgeRig &, Shape shape, int i) -> Parts {
         switch (shape) {
         case Shape::Largest:
             return {{}, {{"Role.Query", {"Role=any", padding(60000)}}}, {}};
         case Shape::Invalid:
             return {{}, {{"Role.Query", {i % 2 ? "Role=server" : "Rolle=any"}}}, {}};
         case Shape::NoMatch:
             return {QStringLiteral(">:nomatch%1.>").arg(i), {{"Role.Query", {"Role=any"}}}, {}};
         default:
             return {{}, {{"Role.Query", {"Role=any"}}}, {}};
         }
     }},
    {"Time.Today", [](const BridgeRig &) { return QString(); },
     [](const BridgeRig &, Shape shape, int i) -> Parts {
         if (shape == Shape::Largest)
             return {{}, {{"Time.Today", {"Sunrise=6:45 AM", "Sunset=" + QString(60000, QLatin1Char('s'))}}}, {}};
         if (shape == Shape::Invalid)
             return {{}, {{"Time.Today", {QStringLiteral("Sunrise=") + QChar(1) + QChar(0x7f)}}}, {}};
         return {{}, {{"Time.Today", {QStringLiteral("Sunrise=6:%1 AM").arg(i % 60), "Sunset=7:10 PM"}}}, {}};
     }},
    {"WDT.Echo", [](const BridgeRig &rig) { return rig.source; },
     [](const BridgeRig &, Shape shape, int i) -> Parts {
         switch (shape) {
         case Shape::Wildcards: {
             const QString sources[] = {QStringLiteral(">"), QStringLiteral("*.*.*"), QStringLiteral("acme.*.pc")};
             return {QStringLiteral(">"), {{"Echo.Query", {"Query=flood"}}}, sources[i % 3]};
         }
         case Shape::Largest:
             return {{}, {{"Echo.Query", {"Query=" + QString(60000, QLatin1Char('q'))}}}, {}};
         case Shape::Invalid:
             return {{}, {{"Echo.Query", {}}}, QStringLiteral("acme.x\x01y.pc")};
         case Shape::NoMatch:
             return {QStringLiteral(">:nomatch%1.>").arg(i), {{"Echo.Query", {"Query=flood"}}}, {}};
         default:
             return {{}, {{"Echo.Query", {"Query=flood"}}}, {}};
         }
     }},
    {"xap-hbeat.alive", [](const BridgeRig &) { return QString(); },
     [](const BridgeRig &, Shape shape, int i) -> Parts {
         if (shape == Shape::Largest)
             return {{}, {{"extra", {padding(60000)}}}, {}};
         if (shape == Shape::Invalid)
             return {{}, {{"x\x01", {"port=abc", "interval=-5"}}}, {}};
         return {{}, {{"info", {QStringLiteral("port=%1").arg(40000 + i % 1000), "interval=60"}}}, {}};
     }},
    {"acme.unknown.class", [](const BridgeRig &) { return QString(); },
     [](const BridgeRig &, Shape shape, int i) -> Parts {
         if (shape == Shape::Largest)
             return {{}, {{"block", {padding(60000)}}}, {}};
         if (shape == Shape::Invalid)
             return {{}, {{"block", {"=", "novalue", QString(300, QChar(0x1f))}}}, {}};
         return {{}, {{"block", {QStringLiteral("n=%1").arg(i)}}}, {}};
     }},
};

class FloodCatalogue : public ::testing::TestWithParam<int>
{
protected:
    QByteArray build(const MessageClass &c, Shape shape, int i)
    {
        Parts parts;
        switch (shape) {
        case Shape::Filtered:
            parts = c.parts(rig, Shape::OneSource, i);
            parts.source = QStringLiteral("acme.filtered.pc");
            break;
        case Shape::ManyBlocks:
            parts = manyBlocks(c, i);
            break;
        case Shape::Targets:
            parts = c.parts(rig, Shape::OneSource, i);
            if (c.target(rig).contains(QLatin1Char(':')))
                parts.target = own(rig, QStringLiteral("target%1.>").arg(i % kDistinctTargets));
            break;
        default:
            parts = c.parts(rig, shape, i);
        }
        QString source = parts.source;
        if (source.isEmpty())
            source = shape == Shape::ManySources || shape == Shape::Stream ? QStringLiteral("acme.s%1.pc").arg(i)
                                                                          : QStringLiteral("acme.flood.pc");
        const QString target = parts.target.isEmpty() && shape != Shape::NoMatch ? c.target(rig) : parts.target;
        QByteArray text = rig.message(QString::fromLatin1(c.cls), target, parts.blocks, source);
        if (shape == Shape::Invalid && i % 5 == 4)
            text = text.left(text.size() / 2); // cut short: no longer xAP at all
        return text;
    }

    // A datagram of thousands of blocks: for a command, a block for variable 5
    // again and again; otherwise the class's message followed by empty blocks.
    Parts manyBlocks(const MessageClass &c, int i) const
    {
        Parts parts = c.parts(rig, Shape::OneSource, i);
        const bool command = QByteArray(c.cls) == "xAPBSC.cmd";
        qsizetype bytes = 0;
        for (int n = 1; bytes < kManyBlocksBytes; ++n) {
            if (command) {
                parts.blocks.append({QStringLiteral("output.state.%1").arg(n), {"ID=05", QStringLiteral("Level=%1").arg(n % 100)}});
                bytes += 34;
            } else {
                parts.blocks.append({QStringLiteral("b"), {}});
                bytes += 6;
            }
        }
        return parts;
    }

    qsizetype logs() const { return rig.of(QStringLiteral("Tessera.Event")).size(); }

    // Sends a burst the way a busy network does: as fast as the socket
    // takes it, with the simulator in this process still served.
    void sendBurst(const MessageClass &c, Shape shape, int count)
    {
        for (int i = 0; i < count; ++i) {
            rig.send(build(c, shape, i));
            if (i % 50 == 49)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
    }

    // A steady stream; echoes go out once a second meanwhile. Returns the
    // echo whose own part (what a loaded machine's share left out) was the
    // longest (ms -1 when one never came).
    BridgeRig::Echo sendStream(const MessageClass &c)
    {
        QElapsedTimer streaming;
        streaming.start();
        BridgeRig::Echo longest;
        longest.ms = 0;
        qint64 echoSentAt = -1;
        std::optional<OwnClock> echoClock;
        qint64 nextEchoAt = 500;
        qsizetype echoesBefore = 0;
        int sent = 0;
        while (streaming.elapsed() < kStreamMs || echoSentAt >= 0) {
            if (streaming.elapsed() < kStreamMs) {
                for (; sent < streaming.elapsed() * kStreamPerSecond / 1000; ++sent)
                    rig.send(build(c, Shape::Stream, sent));
            }
            if (echoSentAt < 0 && streaming.elapsed() < kStreamMs && streaming.elapsed() >= nextEchoAt) {
                echoesBefore = rig.of(QStringLiteral("WDT.Echo")).size();
                echoSentAt = rig.elapsedMs();
                echoClock.emplace(*rig.program);
                rig.send(rig.message(QStringLiteral("WDT.Echo"), rig.source, {{"Echo.Query", {"Query=during"}}},
                                     QStringLiteral("acme.pinger.pc")));
            }
            if (echoSentAt >= 0 && rig.of(QStringLiteral("WDT.Echo")).size() > echoesBefore) {
                const BridgeRig::Echo echo = BridgeRig::Echo::of(*echoClock);
                if (echo.ownMs() >= longest.ownMs())
                    longest = echo;
                echoSentAt = -1;
                nextEchoAt = streaming.elapsed() + 1000;
            } else if (echoSentAt >= 0 && rig.elapsedMs() - echoSentAt > kEchoTimeoutMs) {
                return {};
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        }
        return longest;
    }

    BridgeRig rig;
};

TEST_P(FloodCatalogue, EveryShapeOfBurstLeavesTheProgramAnswering)
{
    // Each class runs in a network of its own, so the classes run side by side.
    RUN_IN_PRIVATE_NETWORK(.onlyThere = true);
    const MessageClass &c = kClasses[GetParam()];
    rig.programEnvironment = {{QStringLiteral("ASAN_OPTIONS"),
                               qEnvironmentVariable("ASAN_OPTIONS") + QStringLiteral(":quarantine_size_mb=16")},
                              {QStringLiteral("KORVANE_TRACE_DISPATCH"), QString()}};
    // A controller as full as they come, on a real line: every exchange takes
    // its time at 9600 baud, and every query or "*" command has some 180
    // endpoints to consider.
    rig.sim.paced = true;
    rig.extraUnits = BridgeRig::kManyEndpointUnits;
    rig.store = BridgeRig::manyEndpointsStore();
    // Every message of the "filtered" burst matches a filter with its event box
    // ticked, and each run of the script it starts is slow.
    rig.pluginSettings += "PeriodicScriptInterval=off\r\n";
    rig.folder.writeFile(QStringLiteral("Scripts/xaptvkKorvane.txt"), kSlowScript);
    for (int u = 1; u <= 16; ++u) {
        if (u != 5 && u != 6)
            rig.store += QByteArray("A") + QByteArray::number(u) + "=Yard;Unit" + QByteArray::number(u)
                + ";Veltro Quillon;0;;0;X10;3;0;;;;False\r\n";
    }
    rig.store += "[Received]\r\nacme.filtered.pc~" + QByteArray(c.cls) + "=Flood_Tag;1\r\n"
                 "[Devices]\r\nFlood_Tag=1/1/2000\r\n";
    ASSERT_TRUE(rig.start()) << "the program did not come up against the simulator";
    waitUntil([] { return false; }, 1000);
    const qint64 startKb = rig.program->residentKb();
    ASSERT_GT(startKb, 0);

    for (const auto &s : kShapes) {
        // The same program's echo in the quiet: what this machine's load makes of it now.
        const BridgeRig::Echo quiet = rig.echo(kEchoTimeoutMs);
        ASSERT_GE(quiet.ms, 0) << "no echo answer before " << s.name;
        const qsizetype logsBefore = logs();
        BridgeRig::Echo answer;
        if (s.shape == Shape::Stream) {
            answer = sendStream(c);
        } else {
            sendBurst(c, s.shape, s.count);
            answer = rig.echo(kEchoTimeoutMs);
        }
        // Refusals logged late (a queue that drains) belong to the burst too.
        waitUntil([] { return false; }, 300);
        const qsizetype burstLogs = logs() - logsBefore;
        const qint64 grownKb = rig.program->residentKb() - startKb;
        std::printf("row %s / %s: echo %lld ms, %lld of them waiting for a processor, %lld running (quiet %lld ms, "
                    "%lld waiting), %lld log broadcasts, resident +%lld kB\n",
                    c.cls, s.name, answer.ms, answer.waitedForCpuMs, answer.ranMs, quiet.ms, quiet.waitedForCpuMs,
                    qint64(burstLogs), grownKb);
        EXPECT_GE(answer.ms, 0) << c.cls << " / " << s.name << ": no echo answer";
        // Timed by what the program itself took: a machine that gives its
        // processors to others stretches both echoes alike, a program kept
        // deaf by its own work or waits does not pass.
        EXPECT_LT(answer.ownMs(), quiet.ownMs() + BridgeRig::kEchoRoomMs) << c.cls << " / " << s.name;
        EXPECT_LE(burstLogs, kMostLogsPerBurst) << c.cls << " / " << s.name;
        EXPECT_LT(grownKb, kMostGrowthKb) << c.cls << " / " << s.name;
        ASSERT_TRUE(rig.program->running()) << c.cls << " / " << s.name;
    }
    EXPECT_EQ(rig.program->terminate(), 0);
}

INSTANTIATE_TEST_SUITE_P(Classes, FloodCatalogue, ::testing::Range(0, int(std::size(kClasses))),
                         [](const ::testing::TestParamInfo<int> &info) {
                             QString name = QString::fromLatin1(kClasses[info.param].cls);
                             name.replace(QLatin1Char('.'), QLatin1Char('_')).replace(QLatin1Char('-'), QLatin1Char('_'));
                             return name.toStdString();
                         });

} // namespace
