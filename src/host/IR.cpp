#include "host/IR.h"

#include "automation/VbDate.h"

namespace {
const FieldSpec kFields[] = {
    {"LastChange", Variant::Date},
    {"ScriptTag", Variant::String},
    {"TriggerEvent", Variant::Boolean},
    {"DC", Variant::String},
};
} // namespace

IR::IR()
    : FieldRecord(kFields)
{
}

std::span<const FieldSpec> IR::fieldSpecs()
{
    return kFields;
}

double IR::neverChanged()
{
    return VbDate::dateSerial(2000, 1, 1);
}

void IR::describe(DispatchTable<IR> &t)
{
    t.name(QStringLiteral("IR"));
    describeFields(t);
}
