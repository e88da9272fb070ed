// Frames the senders build (variables, screen text, clock, X10), on known vectors, without a controller.
#include "TestSupport.h"
#include "controller/link/Frames.h"

namespace {
QByteArray hex(const char* s) { return QByteArray::fromHex(s); }
} // namespace

TEST(Frames, SetVariableFrames)
{
    EXPECT_EQ(HostCommands::SetVarFrame(5, 1000), hex("C82905E8030000E1"));
    EXPECT_EQ(HostCommands::SetVarFrame(3, 258), hex("C82903020100" "00F7"));
    EXPECT_EQ(HostCommands::SetVarFrame(3, 0), hex("C8290300000000F4"));
    // Negative values go out as 16-bit two's complement; large ones are clamped, not wrapped.
    EXPECT_EQ(HostCommands::SetVarFrame(3, -1).mid(3, 2), hex("FFFF"));
    EXPECT_EQ(HostCommands::SetVarFrame(3, -2).mid(3, 2), hex("FEFF"));
    EXPECT_EQ(HostCommands::SetVarFrame(3, 70000).mid(3, 2), hex("FFFF"));
}

TEST(Frames, ScreenTextFrame)
{
    QByteArray f = HostCommands::ScreenFrame(0, 1, "Hi", true, 1, false, true);
    ASSERT_EQ(f.size(), 50);
    EXPECT_EQ(f.left(10), hex("F16D0B02000001004869"));
    EXPECT_EQ(quint8(f[49]), Frames::LongFrameChecksum(f));
    // The length byte counts what is sent: at most 40 characters.
    QByteArray longText = HostCommands::ScreenFrame(300, 2, QString(60, 'x'), false, 0, true, false);
    EXPECT_EQ(quint8(longText[2]), 4);
    EXPECT_EQ(quint8(longText[3]), 40);
    EXPECT_EQ(quint8(longText[4]), 44);
    EXPECT_EQ(quint8(longText[5]), 1);
    EXPECT_EQ(longText.mid(8, 40), QByteArray(40, 'x'));
    EXPECT_EQ(quint8(longText[48]), 0);
}

TEST(Frames, ClockFrameOnAFridayInMarch)
{
    QByteArray f = ControllerStart::ClockFrame(QDateTime(QDate(2007, 3, 9), QTime(14, 5, 27)));
    ASSERT_EQ(f.size(), 50);
    EXPECT_EQ(f.left(2), hex("F13D"));
    EXPECT_EQ(f.mid(2, 13), hex("07020500040109000300070005"));
    EXPECT_EQ(f.mid(15, 34), QByteArray(34, '\0'));
    EXPECT_EQ(quint8(f[49]), Frames::LongFrameChecksum(f));
    // Sunday is day 0.
    EXPECT_EQ(quint8(ControllerStart::ClockFrame(QDateTime(QDate(2007, 3, 11), QTime(0, 0)))[14]), 0);
}

class X10Frames : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetPluginState();
        startLogCapture();
    }
    static QByteArray cmd(const char* first7) // appends the sum
    {
        QByteArray f = QByteArray::fromHex(first7);
        f.append(char(Frames::FrameChecksum(f)));
        return f;
    }
};

TEST_F(X10Frames, OnOffDimAndStatusRequest)
{
    EXPECT_EQ(X10Exec::BuildFrames("B", "3+4", 2, 0, 0, 0),
              (QList<QByteArray>{cmd("C8370102010000"), cmd("C8370103010000"), cmd("C8370112010000")}));
    EXPECT_EQ(X10Exec::BuildFrames("a", "5", 4, 50, 0, 0),
              (QList<QByteArray>{cmd("C8370004010000"), cmd("C837001" "40B0000")}));
    EXPECT_EQ(X10Exec::BuildFrames("A", "1", 15, 0, 0, 0),
              (QList<QByteArray>{cmd("C8370000010000"), cmd("C837001E010000")}));
    // Bright by 100% is the full 22 steps.
    EXPECT_EQ(quint8(X10Exec::BuildFrames("A", "", 5, 100, 0, 0).last()[4]), 22);
}

TEST_F(X10Frames, UnitsOutsideOneToSixteenAreSkippedAndLogged)
{
    EXPECT_EQ(X10Exec::BuildFrames("A", "0+17", 3, 0, 0, 0), (QList<QByteArray>{cmd("C8370013010000")}));
    EXPECT_TRUE(logged("unit(s) 0,17 skipped"));
    // House Q (index 16) is still sent; past it, before "A" or missing, nothing is.
    EXPECT_EQ(X10Exec::BuildFrames("q", "1", 2, 0, 0, 0),
              (QList<QByteArray>{cmd("C8371000010000"), cmd("C8371012010000")}));
    EXPECT_TRUE(X10Exec::BuildFrames("R", "1", 2, 0, 0, 0).isEmpty());
    EXPECT_TRUE(X10Exec::BuildFrames("[", "1", 2, 0, 0, 0).isEmpty());
    EXPECT_TRUE(X10Exec::BuildFrames("", "1", 2, 0, 0, 0).isEmpty());
    EXPECT_TRUE(X10Exec::BuildFrames("@", "1", 2, 0, 0, 0).isEmpty());
}

// Whatever one request could not send, it leaves one log entry, not one per unit or value.
TEST_F(X10Frames, OneRequestLogsOneEntryWhateverItSkips)
{
    QStringList sixteenBad;
    for (int u = 17; u < 33; ++u)
        sixteenBad << QString::number(u);
    const struct
    {
        QString house, units;
        int command, brightness, data1, data2;
        int entries;
        const char* part;
    } cases[] = {
        {"A", sixteenBad.join('+'), 2, 0, 0, 0, 1, "unit(s) 17,18"},
        {"A", "0+40+99", 10, 77, 0, 0, 1, "preset level 77 clamped"},
        {"A", "0+1+99", 7, 0, 300, -5, 1, "data1 300 out of range"},
        {"A", "1+2", 4, 5000, 0, 0, 1, "dim steps"},
        {"A", "99", 40, 0, 0, 0, 1, "unit(s) 99 skipped"},
        {"A", "1+2", 2, 0, 0, 0, 0, nullptr},
        {"Z", "0+99", 2, 0, 0, 0, 1, "house Z skipped"},
    };
    for (const auto& c : cases) {
        loggedEntries().clear();
        X10Exec::BuildFrames(c.house, c.units, c.command, c.brightness, c.data1, c.data2);
        EXPECT_EQ(loggedEntries().size(), c.entries) << c.units.toStdString() << " " << c.command;
        if (c.part)
            EXPECT_TRUE(logged(c.part)) << loggedEntries().join('|').toStdString();
    }
}

TEST_F(X10Frames, OnOffWalksPastEmptyUnitsOthersStopAtThem)
{
    // On, off, dim and bright take every number between the "+" signs.
    EXPECT_EQ(X10Exec::BuildFrames("A", "1++3", 2, 0, 0, 0),
              (QList<QByteArray>{cmd("C8370000010000"), cmd("C8370002010000"), cmd("C8370012010000")}));
    EXPECT_EQ(X10Exec::BuildFrames("A", "2+x+16+", 3, 0, 0, 0),
              (QList<QByteArray>{cmd("C8370001010000"), cmd("C837000F010000"), cmd("C8370013010000")}));
    // Preset dim and extended code stop at the first empty field.
    EXPECT_EQ(X10Exec::BuildFrames("A", "1++3", 10, 2, 0, 0),
              (QList<QByteArray>{cmd("C8370000010000"), cmd("C8370E1A010000")}));
    EXPECT_EQ(X10Exec::BuildFrames("A", "1++3", 7, 0, 1, 2), (QList<QByteArray>{cmd("C8610000010200")}));
    // Any other code addresses the leading unit only.
    EXPECT_EQ(X10Exec::BuildFrames("A", "4+5", 13, 0, 0, 0),
              (QList<QByteArray>{cmd("C8370003010000"), cmd("C837001C010000")}));
}

TEST_F(X10Frames, PresetDimBothBanks)
{
    EXPECT_EQ(X10Exec::BuildFrames("C", "2", 10, 20, 0, 0),
              (QList<QByteArray>{cmd("C8370201010000"), cmd("C837021F010000")}));
    EXPECT_EQ(X10Exec::BuildFrames("A", "1", 10, 6, 0, 0).last(), cmd("C837001A010000"));
    // Code 11 is no preset of its own: 11 + 16 = 27 is past 26, so its function byte is 26.
    EXPECT_EQ(X10Exec::BuildFrames("A", "1", 11, 22, 0, 0),
              (QList<QByteArray>{cmd("C8370000010000"), cmd("C837001A010000")}));
    EXPECT_EQ(X10Exec::BuildFrames("B", "", 11, 6, 0, 0), (QList<QByteArray>{cmd("C837011A010000")}));
    // Out-of-range levels are clamped, never wrapped.
    EXPECT_EQ(X10Exec::BuildFrames("A", "1", 10, 99, 0, 0).last(), cmd("C837091F010000"));
}

TEST_F(X10Frames, ExtendedCodeAndCodesWithoutFrames)
{
    EXPECT_EQ(X10Exec::BuildFrames("A", "1+2", 7, 0, 0x31, 0x02),
              (QList<QByteArray>{cmd("C8610000310200"), cmd("C8610001310200")}));
    EXPECT_EQ(X10Exec::BuildFrames("A", "1", 7, 0, 300, -4),
              (QList<QByteArray>{cmd("C8610000FF0000")}));
    EXPECT_TRUE(logged("data1 300"));
    EXPECT_TRUE(X10Exec::BuildFrames("A", "1", -1, 0, 0, 0).isEmpty());
    // Codes past the table follow the same rule: 16 to 18 give 31 to 33.
    EXPECT_EQ(X10Exec::BuildFrames("A", "1", 16, 0, 0, 0).last(), cmd("C837001F010000"));
    EXPECT_EQ(X10Exec::BuildFrames("A", "1", 17, 0, 0, 0).last(), cmd("C8370020010000"));
    EXPECT_EQ(X10Exec::BuildFrames("A", "1", 18, 0, 0, 0).last(), cmd("C8370021010000"));
    EXPECT_EQ(X10Exec::BuildFrames("A", "1+5", 0, 0, 0, 0),
              (QList<QByteArray>{cmd("C8370000010000"), cmd("C8370010010000")}));
}
