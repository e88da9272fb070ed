// Outages of the controller link in every shape a serial-device server and a
// controller give them, at start-up and mid-run: one log entry per outage, and
// the controller used again, every change reported, once it is back. And a
// link that goes down while a reply is awaited ends the wait at once.
#include "PluginTestSupport.h"

#include "controller/link/Frames.h"

#include <QElapsedTimer>
#include <QRegularExpression>

namespace {

// How the server or the controller fails: refuses connections, accepts and
// closes them, accepts and resets them, or keeps them and never answers.
enum class Kind { Refused, Closed, Reset, Silent };
const char* kKindNames[] = {"Refused", "Closed", "Reset", "Silent"};

struct Shape
{
    bool atStart;
    QList<Kind> kinds; // one after the other
};

// Whatever the link, the start or the polls say of a failure, in any wording.
QStringList outageEntries()
{
    static const QRegularExpression failure(
        "did not open|oWinsock_Error|IP Connection Closed|Unable to connect|Timeout looking|Timeout getting"
        "|Timeout from CPU-QX|Open Comm Port|Serial port");
    QStringList out;
    for (const QString& e : loggedEntries())
        if (e.contains(failure))
            out << e;
    return out;
}

// The entry a kind gives when it comes first.
QString firstText(Kind k, bool atStart)
{
    switch (k) {
    case Kind::Refused: return atStart ? "Connection refused" : "IP Connection Closed";
    case Kind::Closed: return "IP Connection Closed";
    // A reset at once may come before the connection is seen to be up.
    case Kind::Reset: return atStart ? "IP Connection Closed|Unable to connect via TCP" : "IP Connection Closed";
    case Kind::Silent: return atStart ? "Timeout looking for CPU-QX/Quillon" : "Timeout getting";
    }
    return {};
}

class OutageShapes : public PluginFixture, public ::testing::WithParamInterface<Shape>
{
protected:
    void SetUp() override
    {
        PluginFixture::SetUp();
        gControllerTiming.discoveryReplySeconds = 1;
        gControllerTiming.startReplyTimeout = 1;
        gControllerTiming.reconnectMs = 200;
        gControllerTiming.healthyMs = 1500;
        gControllerTiming.rediscoveryProbeMs = 300;
        gControllerTiming.initIOWaitMs = 50;
        gPlugin.LogErrors = 1;
    }

    void fail(Kind k)
    {
        switch (k) {
        case Kind::Refused:
            tcp->stopListening();
            sim->dropConnection();
            break;
        case Kind::Closed:
            tcp->closeOnAccept = true;
            sim->dropConnection();
            break;
        case Kind::Reset:
            tcp->resetOnAccept = true;
            tcp->resetClient();
            break;
        case Kind::Silent: sim->silent = true; break;
        }
    }
    void heal(Kind k)
    {
        switch (k) {
        case Kind::Refused: ASSERT_TRUE(tcp->listen(tcp->port())); break;
        case Kind::Closed: tcp->closeOnAccept = false; break;
        case Kind::Reset: tcp->resetOnAccept = false; break;
        case Kind::Silent: sim->silent = false; break;
        }
    }
    // Long enough for the kind to be seen: a silent controller mid-run is one
    // only after two polls have gone unanswered (each asked twice).
    static int lastsMs(Kind k, bool atStart) { return k == Kind::Silent && !atStart ? 6500 : 1500; }
};

TEST_P(OutageShapes, OneEntryPerOutageAndEveryChangeAfterItIsReported)
{
    const Shape shape = GetParam();
    attachSim(Path::Tcp);
    if (!shape.atStart) {
        startSides();
        ASSERT_TRUE(gPlugin.DiscoveryComplete);
        waitFor([] { return false; }, linkTiming().healthyMs + 300); // a link that has lasted
    }
    loggedEntries().clear();
    // The shape runs by the clock, through the start's own waits when there is one.
    int at = 0;
    for (int i = 0; i < shape.kinds.size(); ++i) {
        const Kind k = shape.kinds[i];
        const Kind previous = i > 0 ? shape.kinds[i - 1] : k;
        QTimer::singleShot(at, sim.get(), [=, this] {
            fail(k);
            if (i > 0)
                heal(previous);
        });
        at += lastsMs(k, shape.atStart);
    }
    const Kind last = shape.kinds.last();
    bool healed = false;
    QTimer::singleShot(at, sim.get(), [&, this] {
        heal(last);
        healed = true;
    });
    if (shape.atStart) {
        waitFor([] { return false; }, 20); // the first kind is in place before the start
        startSides();
    }
    ASSERT_TRUE(waitFor([&] { return healed; }, at + 10000));
    ASSERT_TRUE(waitFor([] { return gPlugin.DiscoveryComplete && gPlugin.CommsStarted; }, 15000))
        << loggedEntries().join("\n").toStdString();

    const QStringList entries = outageEntries();
    ASSERT_EQ(entries.size(), 1) << entries.join("\n").toStdString();
    EXPECT_TRUE(entries[0].contains(QRegularExpression(firstText(shape.kinds.first(), shape.atStart))))
        << entries[0].toStdString();

    // Every change the controller makes from now on reaches the host.
    if (shape.atStart)
        selectAndCreate({0}, {{1, 0}});
    else if (!deviceExists("[1"))
        selectAndCreate({0}, {{1, 0}});
    const QString point = houseOf(1) + "1";
    waitFor([] { return false; }, 700); // the first pass mirrors what is there now
    for (int round = 0; round < 3; ++round) {
        bscAnnounced.clear();
        sim->vars[0] = quint16(100 + round);
        sim->sendIOChange(1, 0, round % 2 == 0 ? 0 : 1);
        ASSERT_TRUE(waitFor([&] { return bscAnnounced.contains("[1") && bscAnnounced.contains(point); }, 5000))
            << "round " << round << ": " << bscAnnounced.join(" ").toStdString() << "\n"
            << loggedEntries().join("\n").toStdString();
        EXPECT_EQ(value("[1"), 100 + round);
        EXPECT_EQ(status(point), round % 2 == 0 ? 2 : 3);
    }
    EXPECT_EQ(outageEntries().size(), 1) << outageEntries().join("\n").toStdString();
}

void PrintTo(const Shape& s, std::ostream* os)
{
    *os << (s.atStart ? "at start:" : "mid-run:");
    for (Kind k : s.kinds)
        *os << ' ' << kKindNames[int(k)];
}

std::vector<Shape> shapes()
{
    std::vector<Shape> out;
    const QList<Kind> kinds{Kind::Refused, Kind::Closed, Kind::Reset, Kind::Silent};
    for (bool atStart : {true, false}) {
        for (Kind a : kinds)
            out.push_back({atStart, {a}});
        for (Kind a : kinds)
            for (Kind b : kinds)
                if (a != b)
                    out.push_back({atStart, {a, b}});
    }
    return out;
}

std::string shapeName(const ::testing::TestParamInfo<Shape>& info)
{
    std::string name = info.param.atStart ? "Start" : "MidRun";
    for (Kind k : info.param.kinds)
        name += std::string("_") + kKindNames[int(k)];
    return name;
}

INSTANTIATE_TEST_SUITE_P(Table, OutageShapes, ::testing::ValuesIn(shapes()), shapeName);

// A wait for a reply ends as soon as the link goes down: the reply cannot come
// on that connection any more.
struct ClosingWait
{
    friend void PrintTo(const ClosingWait& c, std::ostream* os) { *os << c.name; }
    const char* name;
    QByteArray frame;
    int length;
    int firstByte;
    int cutAfter;   // > 0: this much of the reply comes before the link goes
    bool reset;     // reset instead of an orderly close
};

class ClosedInAWait : public LinkFixture, public ::testing::WithParamInterface<ClosingWait>
{
};

TEST_P(ClosedInAWait, EndsTheWaitAtOnce)
{
    const ClosingWait c = GetParam();
    openTcp();
    gPlugin.ReplyTimeout = 4;
    QuillonSim::ReplyFault fault;
    fault.on = c.length == Frames::kBlockReplyLength ? QuillonSim::FrameKind::BlockRead : c.frame.startsWith(char(0xF1))
                                                                                              ? QuillonSim::FrameKind::LongFrame
                                                                                              : QuillonSim::FrameKind::Command;
    if (c.cutAfter > 0)
        fault.cutAfter = c.cutAfter;
    else
        fault.drop = true;
    sim->replyFaults << fault;
    tcp->stopListening(); // the link stays down once gone
    QElapsedTimer sinceDown;
    QObject::connect(sim.get(), &QuillonSim::frameReceived, sim.get(), [&] {
        QTimer::singleShot(200, sim.get(), [&] {
            sinceDown.start();
            if (c.reset)
                tcp->resetClient();
            else
                sim->dropConnection();
        });
    });
    protocol->SendFrame(c.frame);
    EXPECT_FALSE(protocol->WaitReply(gPlugin.ReplyTimeout, c.length, c.firstByte));
    ASSERT_TRUE(sinceDown.isValid()) << "the link never went down";
    EXPECT_LT(sinceDown.elapsed(), 1500) << "the wait went on after the link was gone";
}

INSTANTIATE_TEST_SUITE_P(
    Table, ClosedInAWait,
    ::testing::Values(
        ClosingWait{"BlockReplyCutThenClosed", Frames::BlockRequest(0x8D, 0xB5), 264, 0x2A, 64, false},
        ClosingWait{"BlockReplyCutThenReset", Frames::BlockRequest(0x8D, 0xB5), 264, 0x2A, 64, true},
        ClosingWait{"BlockReplyNoneThenClosed", Frames::BlockRequest(0x8F, 0xB7), 264, 0x2A, 0, false},
        ClosingWait{"BlockReplyNoneThenReset", Frames::BlockRequest(0x8F, 0xB7), 264, 0x2A, 0, true},
        ClosingWait{"AcknowledgementThenClosed", Frames::Command(0x29, 3, 7), 3, 0, 0, false},
        ClosingWait{"AcknowledgementThenReset", Frames::Command(0x29, 3, 7), 3, 0, 0, true},
        ClosingWait{"AcknowledgementCutThenReset", Frames::Command(0x29, 3, 7), 3, 0, 1, true},
        ClosingWait{"ClockAcknowledgementThenReset", Frames::LongFrame(0x3D, QByteArray(47, '\0')), 3, 0x06, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
