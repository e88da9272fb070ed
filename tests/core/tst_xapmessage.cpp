#include "core/xap/XapMessage.h"
#include "core/Yonder.h"

#include "automation/ClassRegistry.h"

#include <gtest/gtest.h>

namespace {

const QString kBsc = QStringLiteral(
    "xap-header\n{\nv=13\nhop=1\nuid=FF.1234:00\nclass=xAPBSC.event\nsource=acme.lights.hall:5\n"
    "target=tvk.Korvane.pc1\n}\noutput.state\n{\nState=on\nLevel= 40%\nID=05\n}\n"
    "Output.State.1\n{\nState=off\n}\n");

}  // namespace

TEST(XapMessageBuild, WithTargetAndSections)
{
    XapMessage m;
    m.setMsgClass(QStringLiteral("xAPBSC.cmd"));
    m.setMsgSource(QStringLiteral("tvk.Korvane.pc1:3"));
    m.setMsgTarget(QStringLiteral("acme.lights.*"));
    m.setMsgUID(QStringLiteral("FF.00C7:00"));
    m.Init();
    m.AddHeader();
    m.AddSection(QStringLiteral("output.state.1"));
    m.AddItem(QString(), QStringLiteral("ID"), QStringLiteral("*"));
    m.AddItem(QString(), QStringLiteral("State"), QStringLiteral("on"));
    m.AddSection(QStringLiteral("second"));
    EXPECT_EQ(m.ToXap(),
              QStringLiteral("xap-header\n{\nv=13\nhop=1\nuid=FF.00C7:00\nclass=xAPBSC.cmd\nsource=tvk.Korvane.pc1:3\n"
                             "target=acme.lights.*\n}\noutput.state.1\n{\nID=*\nState=on\n}\nsecond\n{\n}\n"));
}

TEST(XapMessageBuild, EmptyTargetHasNoTargetLineAndUnsetTargetSaysUnknown)
{
    XapMessage m;
    m.setMsgClass(QStringLiteral("c"));
    m.setMsgSource(QStringLiteral("s"));
    m.setMsgUID(QStringLiteral("u"));
    m.AddHeader();
    EXPECT_TRUE(m.ToXap().endsWith(QStringLiteral("source=s\ntarget=Unknown\n}\n}\n")));

    m.setMsgTarget(QString());
    m.Init();
    m.AddHeader();
    m.AddSection(QStringLiteral("a"));
    m.AddItem(QString(), QStringLiteral("k"), QStringLiteral(" v "));
    EXPECT_EQ(m.ToXap(), QStringLiteral("xap-header\n{\nv=13\nhop=1\nuid=u\nclass=c\nsource=s\n}\na\n{\nk= v \n}\n"));
}

TEST(XapMessageParse, HeaderSectionsAndItems)
{
    XapMessage m;
    m.FromXap(kBsc);
    EXPECT_EQ(m.MsgUID(), QStringLiteral("FF.1234:00"));
    EXPECT_EQ(m.MsgClass(), QStringLiteral("xAPBSC.event"));
    EXPECT_EQ(m.msgSource(), QStringLiteral("acme.lights.hall:5"));
    EXPECT_EQ(m.MsgTarget(), QStringLiteral("tvk.Korvane.pc1"));
    EXPECT_EQ(m.MsgSection(), QStringList({QStringLiteral("output.state"), QStringLiteral("output.state.1")}));
    EXPECT_EQ(m.GetItem(QStringLiteral("OUTPUT.state"), QStringLiteral("state")), QStringLiteral("on"));
    EXPECT_EQ(m.GetItem(QStringLiteral("output.state"), QStringLiteral("Level")), QStringLiteral(" 40%"));
    EXPECT_EQ(m.GetItem(QStringLiteral("output.state.1"), QStringLiteral("State")), QStringLiteral("off"));
    EXPECT_EQ(m.GetItem(QStringLiteral("output.state.1"), QStringLiteral("Level")), QStringLiteral("Unknown"));
    EXPECT_EQ(m.GetItem(QStringLiteral("input.state"), QStringLiteral("State")), QStringLiteral("Unknown"));
    ASSERT_NE(m.msgCollection(0), nullptr);
    EXPECT_EQ(m.msgCollection(0)->lines.first(), QStringLiteral("State=on"));
    EXPECT_TRUE(m.CompareClass(QStringLiteral("XAPBSC.EVENT")));
}

TEST(XapMessageParse, TextsThatAreNotMessages)
{
    XapMessage hbeat;
    hbeat.FromXap(QStringLiteral("xap-hbeat\n{\nv=13\nhop=1\nuid=FF.1:00\nclass=xap-hbeat.alive\nsource=a.b.c\n}\n"));
    EXPECT_EQ(hbeat.MsgClass(), QStringLiteral("Unknown"));
    EXPECT_EQ(hbeat.msgSource(), QStringLiteral("Unknown"));
    EXPECT_EQ(hbeat.MsgUID(), QStringLiteral("Unknown"));
    EXPECT_EQ(hbeat.MsgSection(), QStringList({QString()}));

    XapMessage crlf;
    QString text = kBsc;
    crlf.FromXap(text.replace(QStringLiteral("\n"), QStringLiteral("\r\n")));
    EXPECT_EQ(crlf.MsgClass(), QStringLiteral("xAPBSC.event\r"));
    EXPECT_EQ(crlf.MsgSection(), QStringList({QString()}));
    EXPECT_EQ(crlf.GetItem(QStringLiteral("output.state"), QStringLiteral("State")), QStringLiteral("Unknown"));

    XapMessage empty;
    empty.FromXap(QString());
    EXPECT_EQ(empty.MsgTarget(), QStringLiteral("Unknown"));
}

TEST(XapMessageParse, ErrorsKeepWhatWasReadSoFar)
{
    XapMessage dup;
    dup.FromXap(QStringLiteral("xap-header\n{\nclass=a.b\n}\none\n{\nk=1\nK =2\nx=3\n}\ntwo\n{\ny=4\n}\n"));
    EXPECT_EQ(dup.GetItem(QStringLiteral("one"), QStringLiteral("k")), QStringLiteral("1"));
    EXPECT_EQ(dup.GetItem(QStringLiteral("one"), QStringLiteral("x")), QStringLiteral("Unknown"));
    EXPECT_EQ(dup.MsgSection(), QStringList({QStringLiteral("one")}));

    XapMessage noLf;
    noLf.FromXap(QStringLiteral("xap-header\n{\nclass=a.b\n}\none\n{\nk=1\n}"));
    EXPECT_EQ(noLf.MsgClass(), QStringLiteral("a.b"));
    EXPECT_EQ(noLf.GetItem(QStringLiteral("one"), QStringLiteral("k")), QStringLiteral("1"));
    EXPECT_EQ(noLf.MsgSection(), QStringList({QStringLiteral("one")}));

    XapMessage dupSection;
    dupSection.FromXap(QStringLiteral("xap-header\n{\n}\nsec\n{\na=1\n}\nSEC\n{\nb=2\n}\n"));
    EXPECT_EQ(dupSection.MsgSection(), QStringList({QStringLiteral("sec")}));
    EXPECT_EQ(dupSection.GetItem(QStringLiteral("sec"), QStringLiteral("b")), QStringLiteral("Unknown"));
}

TEST(XapMessageCompare, Addresses)
{
    EXPECT_TRUE(XapMessage::AddressesMatch(QStringLiteral("tvk.Korvane.pc1"), QStringLiteral("TVK.korvane.PC1:5")));
    EXPECT_FALSE(XapMessage::AddressesMatch(QStringLiteral("a.b"), QStringLiteral("a.b.c")));
    EXPECT_TRUE(XapMessage::AddressesMatch(QStringLiteral("a.>"), QStringLiteral("a.b.c")));
    EXPECT_TRUE(XapMessage::AddressesMatch(QStringLiteral("a.*.c"), QStringLiteral("a.x.c")));
    EXPECT_FALSE(XapMessage::AddressesMatch(QStringLiteral("a.*"), QStringLiteral("a.x.c")));
    EXPECT_FALSE(XapMessage::AddressesMatch(QString(), QStringLiteral("a")));
    EXPECT_FALSE(XapMessage::AddressesMatch(QStringLiteral("a"), QString()));

    XapMessage m;
    m.FromXap(kBsc);
    EXPECT_TRUE(m.CompareSource(QStringLiteral("acme.*.hall")));
    EXPECT_TRUE(m.CompareTarget(QStringLiteral("tvk.>")));
    EXPECT_FALSE(m.CompareTarget(QStringLiteral("tvk.other.pc1")));
}

TEST(XapMessageScript, CreatedByProgIdAndCalledByName)
{
    RegisterCoreClasses();
    ObjectPtr obj = ClassRegistry::instance().create(QStringLiteral("XAPTVKKORVANE.XAPMESSAGE"));
    obj->call(QStringLiteral("fromxap"), {Variant(kBsc)});
    EXPECT_EQ(obj->call(QStringLiteral("GetItem"), {Variant(QStringLiteral("output.state")), Variant(QStringLiteral("ID"))}).toString(),
              QStringLiteral("05"));
    EXPECT_EQ(obj->get(QStringLiteral("msgclass")).toString(), QStringLiteral("xAPBSC.event"));
    ObjectPtr section = obj->call(QStringLiteral("msgCollection"), {Variant(1)}).toObject();
    EXPECT_EQ(section->call(QStringLiteral("Item"), {Variant(QStringLiteral("state"))}).toString(), QStringLiteral("State=off"));
    EXPECT_THROW(obj->call(QStringLiteral("NoSuchMember")), VbError);
}

// Parsing never fails on texts cut anywhere or with a byte changed; whatever it keeps stays
// readable.
TEST(XapMessageParse, TruncatedAndMangledTexts)
{
    for (qsizetype cut = 0; cut <= kBsc.size(); ++cut) {
        XapMessage m;
        m.FromXap(kBsc.left(cut));
        m.GetItem(QStringLiteral("output.state"), QStringLiteral("State"));
        EXPECT_FALSE(m.MsgSection().isEmpty());
    }
    const QString marks = QStringLiteral("}{=\n\r: .*>");
    for (qsizetype pos = 0; pos < kBsc.size(); ++pos) {
        for (QChar mark : marks) {
            QString text = kBsc;
            text[pos] = mark;
            XapMessage m;
            m.FromXap(text);
            EXPECT_FALSE(m.MsgSection().isEmpty());
            m.CompareSource(m.msgSource());
        }
    }
}

TEST(XapMessageCompare, WildcardsOnEitherSide)
{
    // ">" matches the rest wherever it stands, also as the second address's element.
    EXPECT_TRUE(XapMessage::AddressesMatch(QStringLiteral("a.b.c"), QStringLiteral("a.>")));
    EXPECT_FALSE(XapMessage::AddressesMatch(QStringLiteral("x.b.c"), QStringLiteral("a.>")));
    EXPECT_TRUE(XapMessage::AddressesMatch(QStringLiteral("a.x.c"), QStringLiteral("a.*.c")));
    EXPECT_FALSE(XapMessage::AddressesMatch(QStringLiteral("a.x.c"), QStringLiteral("a.*")));

    XapMessage m;
    m.FromXap(QStringLiteral("xap-header\n{\nclass=c\nsource=acme.lights.hall\ntarget=tvk.>\n}\ns\n{\n}\n"));
    EXPECT_TRUE(m.CompareTarget(QStringLiteral("tvk.Korvane.pc1:3")));
    EXPECT_FALSE(m.CompareTarget(QStringLiteral("other.Korvane.pc1")));
}

// Header values are trimmed of blanks at both ends (section values are not).
TEST(XapMessageParse, HeaderValuesAreTrimmed)
{
    XapMessage m;
    m.FromXap(QStringLiteral("xap-header\n{\n uid = FF.1234:00 \nCLASS=  xAPBSC.cmd\nsource=acme.a.b  \n"
                             "target = tvk.Korvane.pc1 \n}\ns\n{\n k = v \n}\n"));
    EXPECT_EQ(m.MsgUID(), QStringLiteral("FF.1234:00"));
    EXPECT_EQ(m.MsgClass(), QStringLiteral("xAPBSC.cmd"));
    EXPECT_EQ(m.msgSource(), QStringLiteral("acme.a.b"));
    EXPECT_EQ(m.MsgTarget(), QStringLiteral("tvk.Korvane.pc1"));
    EXPECT_TRUE(m.CompareClass(QStringLiteral("xapbsc.cmd")));
    EXPECT_EQ(m.GetItem(QStringLiteral("s"), QStringLiteral("k")), QStringLiteral(" v "));
}
