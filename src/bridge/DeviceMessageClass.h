#pragma once

#include "automation/Collection.h"
#include "automation/Dispatch.h"

// A tagged device record: the last message stored under a tag, or a device
// change handed to the user script. Plain fields; scripts reach them by name.
class DeviceMessageClass : public DispatchObject<DeviceMessageClass>
{
public:
    static void describe(DispatchTable<DeviceMessageClass> &t);

    qint32 Sequence = 0;
    QString Tag;
    QString DC;
    QString Value;
    ObjectPtr Link;
    double LastChange = 0; // OLE date
    CollectionPtr MessageList = std::make_shared<Collection>();
    CollectionPtr MessageKeyList = std::make_shared<Collection>();

    // Adds one item under its key, to both lists.
    void addItem(const QString &key, const QString &value);
    void visitHeld(HeldValues &visitor) override;

    // An item as the store keeps it and as the page shows it. A script may have put an
    // object, an array or Null in the lists; turning an object into text would run the
    // script's code outside any run (with its own time-out, from the page or at Exit), so
    // neither ever converts one: the store keeps such an item empty, the page shows its type.
    static QString storedText(const Variant &item);
    static QString shownText(const Variant &item);

private:
    Variant getSequence() const { return Variant::fromLong(Sequence); }
    void letSequence(const Variant &v) { Sequence = v.toLong(); }
    Variant getTag() const { return Variant(Tag); }
    void letTag(const Variant &v) { Tag = v.toString(); }
    Variant getDC() const { return Variant(DC); }
    void letDC(const Variant &v) { DC = v.toString(); }
    Variant getValue() const { return Variant(Value); }
    void letValue(const Variant &v) { Value = v.toString(); }
    Variant getLink() const { return Variant(Link); }
    void setLink(const Variant &v) { Link = v.toObject(); }
    Variant getLastChange() const { return Variant::fromDate(LastChange); }
    void letLastChange(const Variant &v) { LastChange = v.toDate(); }
    Variant getMessageList() const { return Variant(ObjectPtr(MessageList)); }
    void setMessageList(const Variant &v);
    Variant getMessageKeyList() const { return Variant(ObjectPtr(MessageKeyList)); }
    void setMessageKeyList(const Variant &v);
};

using DeviceMessageClassPtr = std::shared_ptr<DeviceMessageClass>;
