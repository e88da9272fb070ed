#include "host/CustomStatus.h"

namespace {
const FieldSpec kFields[] = {
    {"itemStatus", Variant::Object, nullptr, false},
    {"Status", Variant::Long, nullptr, false},
};
} // namespace

CustomStatus::CustomStatus()
    : FieldRecord(kFields)
{
}

std::span<const FieldSpec> CustomStatus::fieldSpecs()
{
    return kFields;
}

void CustomStatus::describe(DispatchTable<CustomStatus> &t)
{
    t.name(QStringLiteral("CustomStatus"));
    describeFields(t);
}
