#include "host/DevFunc.h"

namespace {
const FieldSpec kFields[] = {
    {"devid", Variant::Single},
    {"dim_percent", Variant::Integer},
    {"dimto", Variant::Integer},
    {"eprom_address", Variant::Integer},
    {"func", Variant::Integer},
    {"new_string", Variant::String},
    {"secs_delay", Variant::Long},
    {"setpoint_action", Variant::Integer},
    {"Tag", Variant::Empty},
};
} // namespace

std::span<const FieldSpec> devFunc::fieldSpecs()
{
    return kFields;
}
