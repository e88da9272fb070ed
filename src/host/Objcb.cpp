#include "host/Objcb.h"

namespace {
const FieldSpec kFields[] = {
    {"evtype", Variant::Long},
    {"Handle", Variant::Integer},
    {"obj", Variant::Object},
};
} // namespace

std::span<const FieldSpec> objcb::fieldSpecs()
{
    return kFields;
}
