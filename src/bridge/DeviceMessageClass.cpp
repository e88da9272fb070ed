#include "bridge/DeviceMessageClass.h"

namespace {

CollectionPtr asCollection(const Variant &v)
{
    const ObjectPtr object = v.toObject();
    if (!object)
        return nullptr;
    auto collection = std::dynamic_pointer_cast<Collection>(object);
    if (!collection)
        throw VbError(VbErr::TypeMismatch, VbError::standardDescription(VbErr::TypeMismatch));
    return collection;
}

} // namespace

void DeviceMessageClass::describe(DispatchTable<DeviceMessageClass> &t)
{
    using D = DeviceMessageClass;
    t.name(QStringLiteral("DeviceMessageClass"));
    t.property("Sequence", &D::getSequence, &D::letSequence);
    t.property("Tag", &D::getTag, &D::letTag);
    t.property("DC", &D::getDC, &D::letDC);
    t.property("Value", &D::getValue, &D::letValue);
    t.get("Link", &D::getLink);
    t.set("Link", &D::setLink);
    t.property("LastChange", &D::getLastChange, &D::letLastChange);
    t.get("MessageList", &D::getMessageList);
    t.set("MessageList", &D::setMessageList);
    t.get("MessageKeyList", &D::getMessageKeyList);
    t.set("MessageKeyList", &D::setMessageKeyList);
}

namespace {

bool convertsWithoutScript(const Variant &item)
{
    return !item.isObject() && !item.isArray() && !item.isNull();
}

} // namespace

QString DeviceMessageClass::storedText(const Variant &item)
{
    return convertsWithoutScript(item) ? item.toString() : QString();
}

QString DeviceMessageClass::shownText(const Variant &item)
{
    return convertsWithoutScript(item) ? item.toString() : item.typeName();
}

void DeviceMessageClass::addItem(const QString &key, const QString &value)
{
    MessageList->add(Variant(value), key);
    MessageKeyList->add(Variant(key));
}

// A list set to Nothing is an empty list: the save, the status page and the scripts that
// read it later all find a list.
void DeviceMessageClass::setMessageList(const Variant &v)
{
    CollectionPtr list = asCollection(v);
    MessageList = list ? list : std::make_shared<Collection>();
}

void DeviceMessageClass::setMessageKeyList(const Variant &v)
{
    CollectionPtr list = asCollection(v);
    MessageKeyList = list ? list : std::make_shared<Collection>();
}

void DeviceMessageClass::visitHeld(HeldValues &visitor)
{
    visitor.object(Link);
    visitor.part(MessageList);
    visitor.part(MessageKeyList);
}
