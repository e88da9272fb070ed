// X10 event reports and IR reports.
#include "BridgeTestSupport.h"

#include "bridge/XapReports.h"

#include "host/HostGlobals.h"
#include "host/IR.h"

#include "automation/VbDate.h"

#include <limits>

namespace {

class ReportTest : public BridgeTest
{
protected:
    void SetUp() override
    {
        BridgeTest::SetUp();
        tables.x10Used[0] = 1;  // A1
        tables.x10Used[1] = 1;  // A2
        tables.x10Used[16 + 15] = 1; // B16
        setStatus("A1", 3);
        setStatus("A2", 3);
    }

    void setStatus(QString code, qint16 status) { m_hs->SetDeviceStatus(code, status); }

    QStringList x10Reports() const
    {
        QStringList out;
        for (const SentMessage &m : sentOf("xAP-X10.event"))
            out.append(m.item("xAP-X10.event", "Device") + QLatin1Char('=') + m.item("xAP-X10.event", "Event"));
        return out;
    }
};

TEST_F(ReportTest, ChangedUnitsAreStoredAndReported)
{
    const double before = VbDate::oleNow() - 1.0 / 86400;
    SendXapX10Event("A1+2", "A", 2);
    ASSERT_TRUE(waitForSent("xAP-X10.event", 2));
    EXPECT_EQ(x10Reports(), QStringList({"A1=on", "A2=on"}));
    EXPECT_EQ(m_hs->deviceStatus("A1"), 2);
    EXPECT_EQ(m_hs->deviceStatus("A2"), 2);
    EXPECT_GE(m_hs->deviceLastChange("A2"), before);

    sent.clear();
    setStatus("A2", 3);
    SendXapX10Event("1,2", "a", 2); // A1 already on: neither stored nor reported
    ASSERT_TRUE(waitForSent("xAP-X10.event", 1));
    settle(200);
    EXPECT_EQ(x10Reports(), QStringList{"a2=on"});
}

TEST_F(ReportTest, UnitsWithoutDeviceAreStoredButNotReported)
{
    SendXapX10Event("3", "B", 3);
    SendXapX10Event("17", "A", 2);  // past 16: no flag of house A (nor of house B)
    SendXapX10Event("0,x,-1", "A", 2);
    SendXapX10Event("1", "Q", 2);
    SendXapX10Event("1", "", 2);
    settle(300);
    EXPECT_TRUE(x10Reports().isEmpty());
    EXPECT_EQ(m_hs->deviceStatus("B3"), 3);
    EXPECT_EQ(m_hs->deviceStatus("A17"), 2);
    EXPECT_EQ(m_hs->deviceStatus("Q1"), 0);
    EXPECT_TRUE(sentOf("Tessera.Event").isEmpty()) << logData().join('|').toStdString();
}

TEST_F(ReportTest, UnitsPastSixteenDoNotStopTheRest)
{
    setStatus("P16", 3);
    tables.x10Used[255] = 1;
    SendXapX10Event("P17+16", "P", 2);
    ASSERT_TRUE(waitForSent("xAP-X10.event", 1));
    settle(200);
    EXPECT_EQ(x10Reports(), QStringList{"P16=on"});
    EXPECT_EQ(m_hs->deviceStatus("P17"), 2);
}

TEST_F(ReportTest, EventNamesFollowTheFunctionCode)
{
    const struct { int command; const char *name; } cases[] = {
        {12, "data_xfer"}, {8, "hail_request"}, {0, "all_units_off"}, {15, "status_request"}, {4, "dim"},
    };
    for (const auto &c : cases) {
        sent.clear();
        setStatus("B16", 99);
        SendXapX10Event("16", "B", c.command);
        ASSERT_TRUE(waitForSent("xAP-X10.event", 1));
        EXPECT_EQ(x10Reports(), QStringList{QStringLiteral("B16=") + QString::fromLatin1(c.name)});
    }
}

TEST_F(ReportTest, IRReportsNameTheCode)
{
    tables.pointNames.insert("R12", "TV Power");
    tables.pointNames.insert("R13", "Doorbell");
    tables.pointNames.insert("R14", "TV Power On");
    tables.pointNames.insert("R15", "");
    xAPIR(12, 0, "IR.Receive");
    xAPIR(13, 0, "IR.Info");
    xAPIR(14, 0, "IR.Info");
    xAPIR(15, 0, "IR.Info");
    xAPIR(20, 3, "IR.Info");
    ASSERT_TRUE(waitForSent("IR.Info", 4));
    ASSERT_TRUE(waitForSent("IR.Receive", 1));
    const SentMessage rx = sentOf("IR.Receive").first();
    EXPECT_TRUE(rx.raw.endsWith("IR.Signal\n{\nDevice=TV\nLocation=12\nSignal=Power\n}\n")) << rx.raw.toStdString();
    const QList<SentMessage> info = sentOf("IR.Info");
    EXPECT_EQ(info[0].item("IR.Signal", "Device"), "Unknown");
    EXPECT_EQ(info[0].item("IR.Signal", "Signal"), "Doorbell");
    EXPECT_EQ(info[1].item("IR.Signal", "Device"), "TV");
    EXPECT_EQ(info[1].item("IR.Signal", "Signal"), "Power On");
    EXPECT_EQ(info[2].item("IR.Signal", "Device"), "Quillon");
    EXPECT_EQ(info[2].item("IR.Signal", "Signal"), "Location15");
    EXPECT_TRUE(info[3].raw.endsWith("IR.Signal\n{\nZone=3\nDevice=Quillon\nLocation=20\nSignal=Location20\n}\n"))
        << info[3].raw.toStdString();

    auto slot = std::dynamic_pointer_cast<IR>(gIRSlots->item(Variant::fromLong(13)).toObject());
    EXPECT_NEAR(slot->lastChange(), VbDate::oleNow(), 60.0 / 86400);
    auto untouched = std::dynamic_pointer_cast<IR>(gIRSlots->item(Variant::fromLong(12)).toObject());
    EXPECT_LT(untouched->lastChange(), VbDate::oleNow() - 1);
}

TEST_F(ReportTest, IRReportForASlotThatDoesNotExistIsSentThenLogged)
{
    xAPIR(5000, 0, "IR.Receive");
    xAPIR(-1, 0, "IR.Receive");
    xAPIR(std::numeric_limits<qint32>::max(), 0, "IR.Receive"); // no slot number after it
    ASSERT_TRUE(waitForSent("IR.Receive", 3));
    ASSERT_TRUE(waitForSent("Tessera.Event", 3));
    EXPECT_EQ(sentOf("IR.Receive")[2].item("IR.Signal", "Location"), "2147483647");
    for (const QString &data : logData())
        EXPECT_TRUE(data.startsWith("xAPIR Line ")) << data.toStdString();
}

} // namespace
