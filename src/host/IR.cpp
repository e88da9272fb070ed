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

std::span<const FieldSpec> IR::fieldSpecs()
{
    return kFields;
}

double IR::neverChanged()
{
    return VbDate::dateSerial(2000, 1, 1);
}
