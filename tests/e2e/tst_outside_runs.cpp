// Script code that the program reaches outside a run: an object a script planted in a
// record's item list, met again by the status page, by the store at Exit, or released by a
// peer's next message (its Class_Terminate). None of them may hold the program, let a run
// or a "Read Script" start inside it, or cost a stored value.
#include "BridgeRig.h"
#include "HttpExchange.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

const char kStore[] =
    "[PluginDevices]\r\n"
    "Q5=Hall;Temp;Veltro Quillon;3;;0;Variable;3;21;;;hall;False\r\n"
    "R1=Cellar;Level;Veltro Quillon;3;;0;Variable;3;0;;;cellar;False\r\n"
    "[General]\r\nShowReceiveMessages=True\r\nShowReceiveDetail=True\r\n"
    "[Received]\r\n"
    "acme.wx.pc:roof~Weather.Report=roof;1\r\n"
    "acme.wx.pc:warm~Weather.Report=warm;1\r\n"
    "acme.wx.pc:late~Weather.Report=late;1\r\n";

// "warm" makes the record, "roof" plants the object first in its item list, "late" is a
// later run that says when it started.
const char kMain[] =
    "Dim gTag\r\n"
    "Sub Main(tag)\r\n"
    "  Select Case tag\r\n"
    "    Case \"warm\"\r\n"
    "      If IsEmpty(gTag) Then Response \"cellar\", 1\r\n"
    "    Case \"roof\"\r\n"
    "      gTag = \"set\"\r\n"
    "      Dim o: Set o = New K: o.name = \"A\"\r\n"
    "      Request(\"warm\").Add o, \"obj\", 1\r\n"
    "      TagList(\"warm\").Add \"obj\", , 1\r\n"
    "      Response \"cellar\", 2\r\n"
    "    Case \"late\"\r\n"
    "      WriteLog \"probe\", \"late run\"\r\n"
    "  End Select\r\n"
    "End Sub\r\n";

// The object's terminate pumps events for 3 s, then says what it still sees.
const char kPumpingTerminate[] =
    "Class K\r\n"
    "  Public name\r\n"
    "  Private Sub Class_Terminate()\r\n"
    "    Dim t: t = Timer\r\n"
    "    WriteLog \"probe\", \"term start\"\r\n"
    "    Do While Timer - t < 3: WaitEvents: Loop\r\n"
    "    WriteLog \"probe\", \"term end \" & name & \" \" & gTag\r\n"
    "  End Sub\r\n"
    "End Class\r\n";

// Its text never comes.
const char kEndlessDefault[] =
    "Class K\r\n"
    "  Public name\r\n"
    "  Public Default Property Get V()\r\n"
    "    Do: Loop\r\n"
    "  End Property\r\n"
    "End Class\r\n";

enum class Outside { PageLoad, StoreAtExit, PeerReleasesThenARun, PeerReleasesThenReadScript };

struct OutsideRow {
    const char *name;
    const char *klass;
    Outside how;
};

void PrintTo(const OutsideRow &row, std::ostream *os)
{
    *os << row.name;
}

const OutsideRow kRows[] = {
    {"PageShowsARecordsObject", kEndlessDefault, Outside::PageLoad},
    {"StoreSavesARecordHoldingAnObject", kEndlessDefault, Outside::StoreAtExit},
    {"RunQueuedDuringATerminate", kPumpingTerminate, Outside::PeerReleasesThenARun},
    {"ReadScriptDuringATerminate", kPumpingTerminate, Outside::PeerReleasesThenReadScript},
};

class OutsideRuns : public ::testing::TestWithParam<OutsideRow>
{
};

QByteArray weatherReport(const BridgeRig &rig, const char *sub, const char *temp = "20.5")
{
    return rig.message(QStringLiteral("Weather.Report"), QString(),
                       {{"weather.report", {QStringLiteral("TempC=") + QLatin1String(temp)}}},
                       QStringLiteral("acme.wx.pc:") + QLatin1String(sub));
}

// The probe lines the script logged, in order.
QList<QByteArray> probeLines(const BridgeRig &rig)
{
    QList<QByteArray> lines;
    for (const QByteArray &d : rig.of(QStringLiteral("Tessera.Event")))
        for (const char *text : {"term start", "term end", "late run"})
            if (d.contains(text))
                lines.append(d.mid(d.indexOf(text)).split('\n').first().trimmed());
    return lines;
}

qsizetype lineIndex(const QList<QByteArray> &lines, const QByteArray &start)
{
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith(start))
            return i;
    return -1;
}

} // namespace

TEST_P(OutsideRuns, NeverHoldsNestsOrLosesAValue)
{
    const OutsideRow &row = GetParam();
    BridgeRig rig;
    rig.serveWeb = true;
    rig.store = kStore;
    rig.pluginSettings += "PeriodicScriptInterval=off\r\n";
    rig.folder.writeFile(QStringLiteral("Scripts/xaptvkKorvane.txt"), QByteArray(row.klass) + kMain);
    ASSERT_TRUE(rig.start()) << "the program did not come up";
    const auto events = [&] { return rig.of(QStringLiteral("Tessera.Event")).join("\n").toStdString(); };

    ASSERT_TRUE(waitUntil([&] {
        rig.send(weatherReport(rig, "warm", "23.5"));
        return waitUntil([&] { return rig.sim.vars[64] == 1; }, 1000);
    }, 30000)) << events();
    rig.send(weatherReport(rig, "roof"));
    ASSERT_TRUE(waitUntil([&] { return rig.sim.vars[64] == 2; }, 10000)) << events();
    const QByteArray host = "127.0.0.1:" + QByteArray::number(rig.webPort);

    switch (row.how) {
    case Outside::PageLoad: {
        QElapsedTimer clock;
        clock.start();
        const QByteArray page = httpExchange(rig.webPort, "GET /status HTTP/1.1\r\nHost: " + host
                                                              + "\r\nConnection: close\r\n\r\n",
                                             {.replyMs = 20000});
        EXPECT_LT(clock.elapsed(), 15000) << "the page took " << clock.elapsed() << " ms";
        EXPECT_TRUE(page.startsWith("HTTP/1.1 200")) << page.left(200).toStdString();
        EXPECT_TRUE(page.contains("23.5")) << "the record's other item is not shown";
        break;
    }
    case Outside::StoreAtExit:
        break;
    case Outside::PeerReleasesThenARun:
    case Outside::PeerReleasesThenReadScript: {
        // The peer's next message replaces the item list that held the object.
        rig.send(weatherReport(rig, "warm", "22.5"));
        ASSERT_TRUE(waitUntil([&] { return lineIndex(probeLines(rig), "term start") >= 0; }, 10000)) << events();
        if (row.how == Outside::PeerReleasesThenARun) {
            rig.send(weatherReport(rig, "late"));
        } else {
            const QByteArray body = "script=Read+Script";
            httpExchange(rig.webPort,
                         "POST /status HTTP/1.1\r\nHost: " + host + "\r\nOrigin: http://" + host
                             + "\r\nContent-Type: application/x-www-form-urlencoded\r\nConnection: close\r\n"
                               "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body,
                         {.replyMs = 20000});
            rig.send(weatherReport(rig, "late"));
        }
        ASSERT_TRUE(waitUntil([&] {
            const QList<QByteArray> lines = probeLines(rig);
            return lineIndex(lines, "late run") >= 0 && lineIndex(lines, "term end") >= 0;
        }, 20000)) << events();
        const QList<QByteArray> lines = probeLines(rig);
        // The terminate ran to its end with its own field and its module's global, and the
        // run came after it, not inside it.
        EXPECT_GE(lineIndex(lines, "term end A set"), 0) << lines.join(" | ").toStdString();
        EXPECT_LT(lineIndex(lines, "term end"), lineIndex(lines, "late run")) << lines.join(" | ").toStdString();
        break;
    }
    }
    EXPECT_GE(rig.echoAnswerMs(5000), 0) << "no echo answered";

    QElapsedTimer stopping;
    stopping.start();
    EXPECT_EQ(rig.program->terminate(), 0);
    EXPECT_LT(stopping.elapsed(), 10000);
    QFile store(rig.folder.path() + QStringLiteral("/Config/tvkXapKorvane.ini"));
    ASSERT_TRUE(store.open(QIODevice::ReadOnly));
    const QByteArray saved = store.readAll();
    const QByteArray value = row.how == Outside::PeerReleasesThenARun || row.how == Outside::PeerReleasesThenReadScript
        ? "=22.5\r\n" : "=23.5\r\n";
    EXPECT_TRUE(saved.contains(value)) << "the record's value was not stored:\n" << saved.toStdString();
    rig.program.reset();
}

INSTANTIATE_TEST_SUITE_P(Rows, OutsideRuns, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<OutsideRow> &info) { return std::string(info.param.name); });
