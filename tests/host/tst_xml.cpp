#include "HostTestSupport.h"
#include "LiveXap.h"

#include "host/Condition.h"
#include "host/DevFunc.h"
#include "host/HostGlobals.h"
#include "host/XmlConfigImport.h"
#include "host/clsString.h"

#include "automation/VbDate.h"

namespace {

using XmlImportTest = HostTest;

const char *kSchema = R"(<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882'
 xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'
 xmlns:rs='urn:schemas-microsoft-com:rowset' xmlns:z='#RowsetSchema'>
<s:Schema id='RowsetSchema'>
 <s:ElementType name='row' content='eltOnly'>
  <s:AttributeType name='record_type'><s:datatype dt:type='string'/></s:AttributeType>
  <s:AttributeType name='can_dim'><s:datatype dt:type='boolean'/></s:AttributeType>
  <s:AttributeType name='hc'><s:datatype dt:type='string' dt:maxLength='1'/></s:AttributeType>
  <s:AttributeType name='dc'><s:datatype dt:type='string'/></s:AttributeType>
  <s:AttributeType name='name'><s:datatype dt:type='string'/></s:AttributeType>
  <s:AttributeType name='ref'><s:datatype dt:type='ui8'/></s:AttributeType>
  <s:AttributeType name='iotype'><s:datatype dt:type='int'/></s:AttributeType>
  <s:AttributeType name='buttons'><s:datatype dt:type='string'/></s:AttributeType>
  <s:AttributeType name='values'><s:datatype dt:type='bin.hex'/></s:AttributeType>
  <s:AttributeType name='location'><s:datatype dt:type='Else'/></s:AttributeType>
  <s:AttributeType name='CS_Status'><s:datatype dt:type='int'/></s:AttributeType>
  <s:AttributeType name='delete'><s:datatype dt:type='boolean'/></s:AttributeType>
  <s:AttributeType name='evname'><s:datatype dt:type='string'/></s:AttributeType>
  <s:AttributeType name='evmisc'><s:datatype dt:type='ui8'/></s:AttributeType>
  <s:AttributeType name='dim_to'><s:datatype dt:type='boolean'/></s:AttributeType>
  <s:AttributeType name='last_trigger_time'><s:datatype dt:type='dateTime'/></s:AttributeType>
  <s:AttributeType name='cd_condition'><s:datatype dt:type='int'/></s:AttributeType>
  <s:AttributeType name='cd_plugin'><s:datatype dt:type='string'/></s:AttributeType>
  <s:AttributeType name='dev_devid'><s:datatype dt:type='int'/></s:AttributeType>
  <s:AttributeType name='dev_func'><s:datatype dt:type='int'/></s:AttributeType>
  <s:AttributeType name='setpoint_action'><s:datatype dt:type='int'/></s:AttributeType>
  <s:AttributeType name='tv_daytime'><s:datatype dt:type='string'/></s:AttributeType>
  <s:extends type='rs:rowbase'/>
 </s:ElementType>
</s:Schema>
<rs:data>
)";

QByteArray document(const char *rows, bool close = true)
{
    QByteArray text = QByteArray(kSchema) + rows;
    if (close)
        text += "</rs:data>\n</xml>\n";
    return text;
}

} // namespace

TEST(HexDecode, PairsOfLettersAndDigits)
{
    EXPECT_EQ(XmlConfigImport::HexDecode("EF"), "E");
    EXPECT_EQ(XmlConfigImport::HexDecode("12"), "18");
    EXPECT_EQ(XmlConfigImport::HexDecode(""), "");
    EXPECT_EQ(XmlConfigImport::HexDecode("EFEG"), "EF");
    EXPECT_THROW(XmlConfigImport::HexDecode("ABC"), VbError);
    EXPECT_THROW(XmlConfigImport::HexDecode("QQ"), VbError) << "a code above 255";
    EXPECT_EQ(XmlConfigImport::HexDecode("PP"), QString(QChar(255)));
}

TEST(ClsString, AddValueReset)
{
    clsString b;
    QString expected;
    for (int i = 0; i < 250; ++i) {
        const QString c(QChar('a' + i % 26));
        b.call("Add", {Variant(c)});
        expected += c;
    }
    EXPECT_EQ(b.get("Value").toString(), expected);
    b.call("Reset");
    EXPECT_EQ(b.Value(), QString());
}

TEST_F(XmlImportTest, DevicesComeInFileOrderWithColumnsInAttributeOrder)
{
    // A column before the first column is passed over; those after the end column are not read.
    writeFile(m_dir.path() + "/house.xml",
              document("<z:row iotype='5' record_type='1' can_dim='True' hc='B' dc='4' name='Hall &amp;#x22Main&amp;#x22 "
                       "light' ref='7' buttons='EFEG' values='00' CS_Status='0' location='after end'/>\n"
                       "<z:row record_type='1' can_dim='0' hc='C' dc='1' name='Porch' ref='3' iotype='2' "
                       "location='Up' CS_Status='0'/>\n"
                       "<z:row record_type='1' can_dim='0' hc='D' dc='1' name='No end' ref='20'/>\n"
                       "<z:row record_type='9' can_dim='0' hc='E' CS_Status='0'/>\n"));
    const int before = sent();
    EXPECT_TRUE(XmlConfigImport::ReadXML(m_dir.path() + "/house.xml"));
    ASSERT_EQ(m_hs->DeviceCount(), 2);
    auto hall = m_hs->deviceAt(1);
    EXPECT_EQ(hall->code(), "B4");
    EXPECT_EQ(hall->name(), "Hall \"Main\" light");
    EXPECT_EQ(hall->ref(), 7);
    EXPECT_EQ(hall->iotype(), 0);
    EXPECT_TRUE(hall->field(DeviceClass::F_can_dim).toBool());
    EXPECT_EQ(hall->field(DeviceClass::F_buttons).toString(), "EF");
    EXPECT_EQ(hall->field(DeviceClass::F_values).toString(), QString()) << "an unknown type sets nothing";
    EXPECT_TRUE(hall->field(DeviceClass::F_location).isEmpty());
    auto porch = m_hs->deviceAt(2);
    EXPECT_EQ(porch->name(), "Porch");
    EXPECT_EQ(porch->iotype(), 2);
    EXPECT_EQ(porch->location(), "Up");
    EXPECT_EQ(sent(), before + 1) << "the unknown record type is logged";
    QString next = "next";
    EXPECT_EQ(m_hs->NewDeviceEx(next)->ref(), 8) << "numbering goes on after the highest imported ref";
}

TEST_F(XmlImportTest, EventsCollectTheirConditionsAndDeviceActions)
{
    writeFile(m_dir.path() + "/ev.xml",
              document("<z:row record_type='3' cd_condition='9' cd_plugin='early' dev_devid='0'/>\n"
                       "<z:row record_type='2' delete='0' evname='morning' evmisc='5' dim_to='1' "
                       "last_trigger_time='2020-01-02T03:04:05' cd_condition='0'/>\n"
                       "<z:row record_type='3' cd_condition='1' cd_plugin='p1' dev_devid='0'/>\n"
                       "<z:row record_type='3' cd_condition='2' cd_plugin='p2' dev_devid='0'/>\n"
                       "<z:row record_type='4' dev_devid='12' dev_func='2' setpoint_action='6' tv_daytime=''/>\n"
                       "<z:row record_type='2' delete='1' evname='evening' cd_condition='0'/>\n"
                       "<z:row record_type='3' cd_condition='3' cd_plugin='p3' dev_devid='0'/>\n"));
    EXPECT_TRUE(XmlConfigImport::ReadXML(m_dir.path() + "/ev.xml"));
    ASSERT_EQ(m_hs->EventCount(), 2);
    qint16 one = 1, two = 2;
    auto morning = m_hs->GetEvent(one);
    EXPECT_EQ(morning->field(EventClass::F_name).toString(), "morning");
    EXPECT_EQ(morning->field(EventClass::F_misc).toLong(), 5);
    EXPECT_TRUE(morning->field(EventClass::F_ev_dimto).toBool());
    EXPECT_EQ(VbDate::formatGeneralDate(morning->field(EventClass::F_last_trigger_time).toDate()),
              "1/2/2020 3:04:05 AM");
    auto conditions = std::dynamic_pointer_cast<Collection>(morning->field(EventClass::F_ev_conditions).toObject());
    auto actions = std::dynamic_pointer_cast<Collection>(morning->field(EventClass::F_ev_devices).toObject());
    ASSERT_TRUE(conditions && actions);
    ASSERT_EQ(conditions->count(), 2);
    EXPECT_EQ(conditions->item(Variant(1)).toObject()->get("plugin").toString(), "p1");
    ASSERT_EQ(actions->count(), 1);
    ObjectPtr action = actions->item(Variant(1)).toObject();
    EXPECT_EQ(action->get("devid").toDouble(), 12.0);
    EXPECT_EQ(action->get("func").toLong(), 2);
    EXPECT_EQ(action->get("setpoint_action").toLong(), 6);
    auto evening = m_hs->GetEvent(two);
    EXPECT_TRUE(evening->field(EventClass::F_delete).toBool());
    auto eveningConditions =
        std::dynamic_pointer_cast<Collection>(evening->field(EventClass::F_ev_conditions).toObject());
    ASSERT_EQ(eveningConditions->count(), 1);
    EXPECT_EQ(eveningConditions->item(Variant(1)).toObject()->get("plugin").toString(), "p3");
}

TEST_F(XmlImportTest, MissingTruncatedOrNonXmlFilesImportNothing)
{
    EXPECT_FALSE(XmlConfigImport::ReadXML(m_dir.path() + "/nothing.xml"));
    writeFile(m_dir.path() + "/cut.xml",
              document("<z:row record_type='1' can_dim='0' hc='C' dc='1' name='Porch' ref='3' CS_Status='0'/>\n"
                       "<z:row record_type='1' can_dim='0' hc='D'",
                       false));
    int before = sent();
    EXPECT_FALSE(XmlConfigImport::ReadXML(m_dir.path() + "/cut.xml"));
    EXPECT_EQ(sent(), before + 1);
    writeFile(m_dir.path() + "/junk.xml", QByteArray("\x00\x01not xml at all", 16));
    before = sent();
    EXPECT_FALSE(XmlConfigImport::ReadXML(m_dir.path() + "/junk.xml"));
    EXPECT_EQ(sent(), before + 1);
    EXPECT_EQ(m_hs->DeviceCount(), 0);
    EXPECT_EQ(m_hs->EventCount(), 0);
}

TEST_F(XmlImportTest, DamagedDocumentsAndValuesNeverCrash)
{
    const char *row = "<z:row record_type='1' can_dim='0' hc='C' dc='1' name='Porch' ref='3' CS_Status='0'/>\n";
    const struct {
        const char *what;
        QByteArray text;
        bool read;
        int devices;
        int logged;
    } cases[] = {
        {"an empty file", "", false, 0, 1},
        {"a header only", "<?xml version='1.0'?>", false, 0, 1},
        {"a document without a schema or rows", "<html><body a='1'/></html>", true, 0, 0},
        // Every column lacks its type: each is logged, the row still ends at its end column.
        {"rows without a schema", "<xml><rs:data>" + QByteArray(row) + "</rs:data></xml>", true, 1, 5},
        {"an undefined entity", document("<z:row record_type='1' name='&nope;' CS_Status='0'/>\n"), false, 0, 1},
        {"an external entity", "<?xml version='1.0'?><!DOCTYPE x [<!ENTITY e SYSTEM 'file:///etc/passwd'>]>"
                               "<x a='&e;'/>", false, 0, 1},
        {"a second root element", document(row) + "<xml/>", false, 0, 1},
        {"values that do not convert",
        // The overflowing iotype is logged; the texts that are no number or Boolean are not.
         document("<z:row record_type='1' can_dim='perhaps' hc='C' dc='1' ref='many' iotype='99999' CS_Status='0'/>\n"),
         true, 1, 1},
        {"an undeclared column", document("<z:row record_type='1' can_dim='0' colour='red' CS_Status='0'/>\n"), true, 1, 1},
        {"a hex text of odd length", document("<z:row record_type='1' can_dim='0' buttons='ABC' CS_Status='0'/>\n"),
         true, 1, 0},
        {"a condition and an action before any event",
         document("<z:row record_type='3' cd_condition='1' dev_devid='0'/>\n"
                  "<z:row record_type='4' dev_devid='1' tv_daytime=''/>\n"),
         true, 0, 0},
    };
    for (const auto &c : cases) {
        ReleaseHostCollections();
        writeFile(m_dir.path() + "/case.xml", c.text);
        const int before = sent();
        EXPECT_EQ(XmlConfigImport::ReadXML(m_dir.path() + "/case.xml"), c.read) << c.what;
        EXPECT_EQ(m_hs->DeviceCount(), c.devices) << c.what;
        EXPECT_EQ(m_hs->EventCount(), 0) << c.what;
        EXPECT_EQ(sent() - before, c.logged) << c.what;
    }
}

// "int" columns are 32 bits wide: numbers above 32767 arrive whole, and a number too large
// for its property is refused by the property and logged.
TEST_F(XmlImportTest, IntColumnsAreThirtyTwoBitsWide)
{
    LiveXap xapOut;
    ASSERT_TRUE(xapOut.ready);
    QByteArray text(kSchema);
    text.replace("name='ref'><s:datatype dt:type='ui8'/>", "name='ref'><s:datatype dt:type='int'/>");
    text.replace("<s:extends", "<s:AttributeType name='misc'><s:datatype dt:type='int'/></s:AttributeType>\n <s:extends");
    text += "<z:row record_type='1' can_dim='0' hc='C' dc='1' name='Porch' ref='40000' misc='70000' CS_Status='0'/>\n"
            "<z:row record_type='1' can_dim='0' hc='C' dc='2' name='Shed' ref='40001' iotype='70000' misc='-70000'"
            " CS_Status='0'/>\n"
            "<z:row record_type='1' can_dim='0' hc='C' dc='3' name='Gate' ref='40002' misc='3000000000' CS_Status='0'/>\n"
            "</rs:data>\n</xml>\n";
    writeFile(m_dir.path() + "/wide.xml", text);
    ASSERT_TRUE(XmlConfigImport::ReadXML(m_dir.path() + "/wide.xml"));
    ASSERT_EQ(m_hs->DeviceCount(), 3);
    qint16 one = 1, two = 2, three = 3;
    EXPECT_EQ(m_hs->GetDevice(one)->misc(), 70000);
    EXPECT_EQ(m_hs->GetDevice(one)->ref(), 40000);
    EXPECT_EQ(m_hs->GetDevice(two)->ref(), 40001);
    EXPECT_EQ(m_hs->GetDevice(two)->misc(), -70000);
    EXPECT_EQ(m_hs->GetDevice(two)->iotype(), 0);
    EXPECT_EQ(m_hs->GetDevice(three)->misc(), 0);
    QString name = "Next";
    EXPECT_EQ(m_hs->NewDeviceEx(name)->ref(), 40003) << "numbering goes on after the largest imported ref";

    const QStringList logged = xapOut.logData();
    ASSERT_EQ(logged.size(), 2) << logged.join('|').toStdString();
    EXPECT_TRUE(logged.at(0).startsWith("Attribute_Walk iotype of row ")) << logged.at(0).toStdString();
    EXPECT_TRUE(logged.at(0).endsWith(" Overflow")) << logged.at(0).toStdString();
    EXPECT_TRUE(logged.at(1).startsWith("Attribute_Walk misc of row ")) << logged.at(1).toStdString();
}

TEST_F(XmlImportTest, ParseErrorIsLoggedByFileAndLineOnly)
{
    LiveXap xapOut;
    ASSERT_TRUE(xapOut.ready);
    writeFile(m_dir.path() + "/bad.xml", "<xml>\n<row a='1'/>\n<row secret='x' <oops/>\n</xml>\n");
    EXPECT_FALSE(XmlConfigImport::ReadXML(m_dir.path() + "/bad.xml"));
    EXPECT_EQ(xapOut.logData(), QStringList({"ReadXML " + m_dir.path() + "/bad.xml is not well-formed at line 3"}));
}
