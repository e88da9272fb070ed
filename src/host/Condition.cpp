#include "host/Condition.h"

namespace {
const FieldSpec kFields[] = {
    {"condition", Variant::Integer},
    {"ctype", Variant::Integer},
    {"dev_ref", Variant::Single},
    {"orindex", Variant::Integer},
    {"plugin", Variant::String},
    {"time", Variant::String},
};
} // namespace

std::span<const FieldSpec> condition::fieldSpecs()
{
    return kFields;
}
