// What the receive side's pieces of the status page do with a posted form:
// display options, the filter table, and the two buttons of their own.
#include "StatusFixture.h"

#include "web/Request.h"
#include "web/Response.h"
#include "web/chrome/Headers.h"
#include "web/status/PostedForm.h"
#include "web/status/ReceiveFragments.h"
#include "web/status/StatusPage.h"
#include "web/status/StatusTable.h"

#include "bridge/DeviceMessageClass.h"

#include "controller/PluginHooks.h"

#include "host/Application.h"
#include "host/HostGlobals.h"

#include "automation/VbDate.h"

class StatusForms : public StatusTest
{
protected:
    // A posted form (body as a browser sends it) becomes the page request.
    void post(const QByteArray &body)
    {
        m_request = std::make_unique<Request>();
        m_response = std::make_unique<Response>();
        m_request->setRemoteip(QStringLiteral("127.0.0.1"));
        m_request->ParsePage(QString::fromLatin1("POST /status HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: "
                                                 + QByteArray::number(body.size()) + "\r\n\r\n" + body));
        Headers::RunPageSetup(*m_request, *m_response);
    }
    QString general(const QString &key) const { return stored(QStringLiteral("tvkXapKorvane.ini"), QStringLiteral("General"), key); }
    QString received(const QString &key) const { return stored(QStringLiteral("tvkXapKorvane.ini"), QStringLiteral("Received"), key); }
    QStringList filters() const
    {
        QStringList out;
        const std::vector<Variant> keys = gFilterDictionary->keyList();
        const std::vector<Variant> items = gFilterDictionary->itemList();
        for (size_t i = 0; i < keys.size(); ++i)
            out << keys[i].toString() + QLatin1Char('=') + items[i].toString();
        return out;
    }
};

TEST_F(StatusForms, DisplaySettingsSavedAndLoaded)
{
    post("clientinput=yes&UpdateButton=Save+Changes&ShowReceiveMessages=1&ShowStatus=2.5");
    SaveDisplaySettings();
    EXPECT_TRUE(gShowReceiveMessages);
    EXPECT_FALSE(gShowReceiveDetail);
    EXPECT_EQ(gShowStatus, 2); // halves to even
    EXPECT_EQ(general(QStringLiteral("ShowStatus")), QStringLiteral("2"));
    EXPECT_EQ(general(QStringLiteral("ShowReceiveMessages")), QStringLiteral("True"));
    EXPECT_EQ(general(QStringLiteral("ShowReceiveDetail")), QStringLiteral("False"));

    post("clientinput=yes&ShowReceiveDetail=1&ShowStatus=abc");
    SaveDisplaySettings();
    EXPECT_EQ(gShowStatus, 0);
    EXPECT_TRUE(gShowReceiveDetail);
    EXPECT_FALSE(gShowReceiveMessages);

    // The plug-in's option reader reloads them; numbers count as Booleans.
    set(QStringLiteral("tvkXapKorvane.ini"), QStringLiteral("General"), QStringLiteral("ShowReceiveMessages"), QStringLiteral("-1"));
    set(QStringLiteral("tvkXapKorvane.ini"), QStringLiteral("General"), QStringLiteral("ShowReceiveDetail"), QStringLiteral("0"));
    set(QStringLiteral("tvkXapKorvane.ini"), QStringLiteral("General"), QStringLiteral("ShowStatus"), QStringLiteral("1"));
    ASSERT_TRUE(bool(PluginHooksInstance().loadDisplaySettings));
    PluginHooksInstance().loadDisplaySettings();
    EXPECT_TRUE(gShowReceiveMessages);
    EXPECT_FALSE(gShowReceiveDetail);
    EXPECT_EQ(gShowStatus, 1);

    // An unreadable flag reads as off (with a log entry) and the others still load.
    set(QStringLiteral("tvkXapKorvane.ini"), QStringLiteral("General"), QStringLiteral("ShowReceiveDetail"), QStringLiteral("maybe"));
    set(QStringLiteral("tvkXapKorvane.ini"), QStringLiteral("General"), QStringLiteral("ShowReceiveMessages"), QStringLiteral("True"));
    const int mark = logMark();
    LoadDisplaySettings();
    EXPECT_FALSE(gShowReceiveDetail);
    EXPECT_TRUE(gShowReceiveMessages);
    EXPECT_TRUE(anyLogContains(mark, QStringLiteral("ShowReceiveDetail")));
}

// A page's display options carry what they showed: an older page's Save
// keeps what another page changed since, and takes its own user's change.
TEST_F(StatusForms, StaleDisplayOptionsKeepChangesMadeElsewhere)
{
    gShowStatus = 2;
    gShowReceiveMessages = true;
    set(QStringLiteral("tvkXapKorvane.ini"), QStringLiteral("General"), QStringLiteral("ShowStatus"), QStringLiteral("2"));
    // The page showed status 0, messages off, detail off; its user ticked detail.
    post("clientinput=yes&UpdateButton=Save&ShowStatus=0&ShowStatusShown=0&ShowReceiveMessagesShown=0"
         "&ShowReceiveDetail=1&ShowReceiveDetailShown=0");
    SaveDisplaySettings();
    EXPECT_EQ(gShowStatus, 2);
    EXPECT_TRUE(gShowReceiveMessages);
    EXPECT_TRUE(gShowReceiveDetail);
    EXPECT_EQ(general(QStringLiteral("ShowStatus")), QStringLiteral("2"));
    EXPECT_EQ(general(QStringLiteral("ShowReceiveDetail")), QStringLiteral("True"));
}

TEST_F(StatusForms, FilterRowsChangeTheirOwnFiltersAndTheSection)
{
    gFilterDictionary->add(Variant(QStringLiteral("a.b~c.d")), Variant(QStringLiteral("one;1")));
    gFilterDictionary->add(Variant(QStringLiteral("e.f~g.h")), Variant(QStringLiteral("two;")));
    gFilterDictionary->add(Variant(QStringLiteral("i.j~k.l")), Variant(QStringLiteral("three;")));
    set(QStringLiteral("tvkXapKorvane.ini"), QStringLiteral("Received"), QStringLiteral("stale~entry"), QStringLiteral("x;"));
    const int mark = logMark();
    // Row 1 changed (event off, tag with blanks), row 2 cleared (deleted),
    // row 3 renamed to row 1's key (refused, but its tag gets a record), the blank row adds one.
    post("clientinput=yes&UpdateButton=Save"
         "&FilterKey1=a.b~c.d&FilterShown1=one%3B1&Source1=a.b&Class1=c.d&FilterTag1=my+tag"
         "&FilterKey2=e.f~g.h&FilterShown2=two%3B&Source2=&Class2=&FilterTag2=two&FilterEvent2=1"
         "&FilterKey3=i.j~k.l&FilterShown3=three%3B&Source3=a.b&Class3=c.d&FilterTag3=dup"
         "&Source0=m.n&Class0=o.p&FilterTag0=new&FilterEvent0=1");
    SaveFilterSettigs();
    EXPECT_EQ(filters(), QStringList({"a.b~c.d=my_tag;", "i.j~k.l=three;", "m.n~o.p=new;1"}));
    EXPECT_EQ(received(QStringLiteral("a.b~c.d")), QStringLiteral("my_tag;"));
    EXPECT_EQ(received(QStringLiteral("m.n~o.p")), QStringLiteral("new;1"));
    EXPECT_EQ(received(QStringLiteral("stale~entry")), QStringLiteral("<missing>"));
    EXPECT_EQ(received(QStringLiteral("e.f~g.h")), QStringLiteral("<missing>"));
    EXPECT_TRUE(anyLogContains(mark, QStringLiteral("is another filter's")));
    for (const char *tag : {"my_tag", "dup", "new"}) {
        SCOPED_TRACE(tag);
        ASSERT_TRUE(gDeviceDictionary->exists(Variant(QString::fromLatin1(tag))));
        const auto record = std::dynamic_pointer_cast<DeviceMessageClass>(
            gDeviceDictionary->item(Variant(QString::fromLatin1(tag))).toObject());
        ASSERT_TRUE(record);
        EXPECT_EQ(record->Tag, QString::fromLatin1(tag));
        EXPECT_EQ(record->LastChange, VbDate::dateSerial(2000, 1, 1));
    }
    // The cleared row's tag is no filter's any more but no record is made for an empty row.
    EXPECT_FALSE(gDeviceDictionary->exists(Variant(QString())));
}

// Two pages of the filter table: the older one's Save neither deletes what
// the newer one added, nor brings back what it deleted, nor undoes its edits.
TEST_F(StatusForms, StaleFilterTableChangesOnlyWhatItsUserEdited)
{
    gFilterDictionary->add(Variant(QStringLiteral("a~x")), Variant(QStringLiteral("one;")));
    gFilterDictionary->add(Variant(QStringLiteral("b~y")), Variant(QStringLiteral("two;")));
    gShowReceiveMessages = true;
    page();
    // The first page's post, as a browser would send it unedited.
    const QByteArray stale = "clientinput=yes&UpdateButton=Save"
                             "&FilterKey1=a~x&FilterShown1=one%3B&Source1=a&Class1=x&FilterTag1=one"
                             "&FilterKey2=b~y&FilterShown2=two%3B&Source2=b&Class2=y&FilterTag2=two"
                             "&Source0=&Class0=&FilterTag0=";
    // Meanwhile a second page added c~z, deleted b~y and ticked a~x's event.
    post("clientinput=yes&UpdateButton=Save"
         "&FilterKey1=a~x&FilterShown1=one%3B&Source1=a&Class1=x&FilterTag1=one&FilterEvent1=1"
         "&FilterKey2=b~y&FilterShown2=two%3B&Source2=&Class2=&FilterTag2=two"
         "&Source0=c&Class0=z&FilterTag0=three");
    SaveFilterSettigs();
    ASSERT_EQ(filters(), QStringList({"a~x=one;1", "c~z=three;"}));

    post(stale);
    SaveFilterSettigs();
    EXPECT_EQ(filters(), QStringList({"a~x=one;1", "c~z=three;"}));
    EXPECT_EQ(received(QStringLiteral("b~y")), QStringLiteral("<missing>"));

    // The first page's user renames a~x's tag: the other page's event stays.
    post(QByteArray(stale).replace("FilterTag1=one", "FilterTag1=uno"));
    SaveFilterSettigs();
    EXPECT_EQ(filters(), QStringList({"a~x=uno;1", "c~z=three;"}));
    EXPECT_EQ(received(QStringLiteral("a~x")), QStringLiteral("uno;1"));
}

// A row that could not be read back from the section as the same filter is not taken.
TEST_F(StatusForms, FilterRowsThatWouldCorruptTheSectionAreDropped)
{
    gFilterDictionary->add(Variant(QStringLiteral("a.b~c.d")), Variant(QStringLiteral("one;1")));
    const int mark = logMark();
    post("clientinput=yes&UpdateButton=Save"
         "&FilterKey1=a.b~c.d&FilterShown1=one%3B1&Source1=a.b&Class1=c.d&FilterTag1=one&FilterEvent1=1"
         "&Source0=x%3Dy&Class0=z&FilterTag0=t");
    SaveFilterSettigs();
    EXPECT_EQ(filters(), QStringList({"a.b~c.d=one;1"}));
    post("clientinput=yes&UpdateButton=Save"
         "&FilterKey1=a.b~c.d&FilterShown1=one%3B1&Source1=a.b&Class1=c.d&FilterTag1=o%3Dne&FilterEvent1=1"
         "&Source0=x&Class0=z&FilterTag0=t%3B1");
    SaveFilterSettigs();
    EXPECT_EQ(filters(), QStringList({"a.b~c.d=one;1"}));
    EXPECT_EQ(received(QStringLiteral("x~z")), QStringLiteral("<missing>"));
    EXPECT_TRUE(anyLogContains(mark, QStringLiteral("SaveFilterSettigs: row 0 not saved")));
    // Its fault was logged for row 0 already: the row is named in the page's note.
    EXPECT_TRUE(TakeRefusalNotes().join(QLatin1Char('\n')).contains(QStringLiteral("Filter row 1 \"o=ne\"")));
}

// Whether the filters are saved is the post's own matter: a post without
// the table's blank row changes none, whatever page was built last.
TEST_F(StatusForms, FiltersLeftAloneWhenThePostDidNotCarryTheTable)
{
    gFilterDictionary->add(Variant(QStringLiteral("a.b~c.d")), Variant(QStringLiteral("one;1")));
    set(QStringLiteral("tvkXapKorvane.ini"), QStringLiteral("Received"), QStringLiteral("a.b~c.d"), QStringLiteral("one;1"));
    gShowReceiveMessages = true;
    page(); // another tab shows the table
    ASSERT_TRUE(gFiltersShown);
    post("clientinput=yes&UpdateButton=Save&ShowReceiveMessages=1");
    SaveFilterSettigs();
    EXPECT_EQ(filters(), QStringList({"a.b~c.d=one;1"}));
    EXPECT_EQ(received(QStringLiteral("a.b~c.d")), QStringLiteral("one;1"));

    // A page built without the table does not stop a post that carried it.
    gShowReceiveMessages = false;
    page();
    ASSERT_FALSE(gFiltersShown);
    post("clientinput=yes&UpdateButton=Save&FilterKey1=a.b~c.d&FilterShown1=one%3B1&Source1=a.b&Class1=c.d"
         "&FilterTag1=one&Source0=x&Class0=y&FilterTag0=z");
    SaveFilterSettigs();
    EXPECT_EQ(filters(), QStringList({"a.b~c.d=one;", "x~y=z;"}));
}

TEST_F(StatusForms, ScriptButtonsAreRecognisedAndStopThePost)
{
    post("clientinput=yes&UpdateButton=Save");
    EXPECT_FALSE(CheckScriptButtons());
    post("clientinput=yes&query=Query+BSC");
    EXPECT_TRUE(CheckScriptButtons());
}

// The posted-form handler runs before the page is built, only for a post
// carrying "clientinput"; the setup block joins when "Include Setup" is on.
TEST_F(StatusForms, FrameRunsThePostedFormFirstAndTheSetupBlock)
{
    QStringList calls;
    StatusPagePartsInstance().ClientRequest = [&] {
        calls << QStringLiteral("post");
        EXPECT_EQ(PageBuffer(), nullptr); // nothing of the page built yet
    };
    StatusPagePartsInstance().AddSetup = [&](FastString &) { calls << QStringLiteral("setup"); };
    page();
    EXPECT_TRUE(calls.isEmpty());
    gPlugin.IncludeSetup = true;
    post("clientinput=yes&Refresh=Refresh");
    const QString built = BuildStatusPage(*m_request, *m_response);
    EXPECT_EQ(calls, QStringList({"post", "setup"}));
    EXPECT_TRUE(built.contains(QStringLiteral("Include Setup")));
}

// A post the handler refused (its 403 went out) builds no page: the status
// table and the filter mark of the last page stay as they were.
TEST_F(StatusForms, RefusedPostBuildsNoPage)
{
    gShowReceiveMessages = true;
    page();
    ASSERT_TRUE(gFiltersShown);
    const int rows = CurrentStatusTable().rowCount();
    StatusPagePartsInstance().ClientRequest = [] { Headers::PageResponse()->Redirect(QString()); };
    gShowReceiveMessages = false;
    includes(false, false, false, false, true);
    post("clientinput=yes&UpdateButton=Save");
    EXPECT_EQ(BuildStatusPage(*m_request, *m_response), QString());
    EXPECT_TRUE(gFiltersShown);
    EXPECT_EQ(CurrentStatusTable().rowCount(), rows);
}
