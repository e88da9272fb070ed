#include "host/CustomStatus.h"

namespace {
const FieldSpec kFields[] = {
    {"itemStatus", Variant::Object, nullptr, false},
    {"Status", Variant::Long, nullptr, false},
};
} // namespace

std::span<const FieldSpec> CustomStatus::fieldSpecs()
{
    return kFields;
}
