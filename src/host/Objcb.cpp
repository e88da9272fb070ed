#include "host/Objcb.h"

namespace {
const FieldSpec kFields[] = {
    {"evtype", Variant::Long},
    {"Handle", Variant::Integer},
    {"obj", Variant::Object},
};
} // namespace

objcb::objcb()
    : FieldRecord(kFields)
{
}

std::span<const FieldSpec> objcb::fieldSpecs()
{
    return kFields;
}

void objcb::describe(DispatchTable<objcb> &t)
{
    t.name(QStringLiteral("objcb"));
    describeFields(t);
}
