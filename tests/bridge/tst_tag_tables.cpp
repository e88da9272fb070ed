// The tag fills: every tagged point gets a record whose DC names it.
#include "ScriptTestSupport.h"

#include "bridge/DeviceMessageClass.h"
#include "bridge/TagTables.h"

#include "host/HostGlobals.h"
#include "host/IR.h"

#include "automation/VbDate.h"

namespace {

class TagTablesTest : public ScriptTest
{
protected:
    QString dcOf(const QString &tag) const
    {
        if (!gDeviceDictionary->exists(Variant(tag)))
            return "<none>";
        return gDeviceDictionary->item(Variant(tag)).toObject()->get("DC").toString();
    }
    void tagDevice(const QString &hc, const QString &dc, const QString &tag)
    {
        const int position = addDevice(hc, dc, "Here", hc + dc);
        device(position)->set(DeviceClass::F_ScriptTag, Variant(tag));
    }
    void tagSlot(int position, const QString &tag)
    {
        gIRSlots->item(Variant(position + 1)).toObject()->let("ScriptTag", Variant(tag));
    }
};

TEST_F(TagTablesTest, EveryTaggedPointGetsARecordNamingIt)
{
    tagSlot(2, "tv");
    tables.addUnit(3, 11, "[");
    tables.pointUsed[3][0] = 1;
    tables.pointUsed[3][8] = 1;
    tagDevice("[", "1", "door");
    tagDevice("[", "9", "Shared");
    tagDevice("[", "5", "unused point"); // a device of a point not in use
    tables.x10Used[0 * 16 + 4] = 1;    // A5
    tables.x10Used[15 * 16 + 15] = 1;  // P16
    tables.x10Used[1 * 16 + 0] = 1;    // B1, no host device
    tagDevice("A", "5", "SHARED");
    tagDevice("P", "16", "last");
    gFilterDictionary->add(Variant("acme.wx.pc~Weather.Report"), Variant("roof;1"));

    AddAllTags();
    EXPECT_EQ(dcOf("tv"), "R2");
    EXPECT_EQ(dcOf("door"), "[1");
    EXPECT_EQ(dcOf("shared"), "A5"); // the X10 fill runs last
    EXPECT_EQ(dcOf("last"), "P16");
    EXPECT_EQ(dcOf("roof"), "");
    EXPECT_EQ(dcOf("unused point"), "<none>");
    EXPECT_EQ(gDeviceDictionary->count(), 5);
    const ObjectPtr record = gDeviceDictionary->item(Variant("Shared")).toObject();
    EXPECT_EQ(record->get("Tag").toString(), "Shared");
    EXPECT_EQ(record->get("LastChange").toDate(), VbDate::dateSerial(2000, 1, 1));
}

TEST_F(TagTablesTest, ExistingRecordsKeepTheirStateAndOnlyTheirCodeChanges)
{
    auto loaded = std::make_shared<DeviceMessageClass>();
    loaded->Tag = "Door";
    loaded->Sequence = 4;
    loaded->addItem("a.b", "c");
    gDeviceDictionary->add(Variant("Door"), Variant(ObjectPtr(loaded)));
    tables.addUnit(3, 11, "[");
    tables.pointUsed[3][0] = 1;
    tagDevice("[", "1", "DOOR");
    AddAllTags();
    EXPECT_EQ(gDeviceDictionary->count(), 1);
    EXPECT_EQ(loaded->DC, "[1");
    EXPECT_EQ(loaded->Tag, "Door");
    EXPECT_EQ(loaded->MessageList->count(), 1);

    // A tag cleared on the point leaves its record as it was.
    device(1)->set(DeviceClass::F_ScriptTag, Variant(""));
    AddAllTags();
    EXPECT_EQ(loaded->DC, "[1");
}

TEST_F(TagTablesTest, AModuleBeyondTheTableEndsTheIOFillAndTheOthersStillRun)
{
    tables.addUnit(130, 11, "]");
    tables.addUnit(3, 11, "[");
    tables.pointUsed[3][0] = 1;
    tagDevice("[", "1", "door");
    tables.x10Used[4] = 1;
    tagDevice("A", "5", "lamp");
    AddAllTags();
    EXPECT_EQ(dcOf("door"), "<none>");
    EXPECT_EQ(dcOf("lamp"), "A5");
    EXPECT_EQ(logData().filter("AddIOTags").size(), 1);
}

} // namespace
