#pragma once

#include "host/FieldRecord.h"

// One device action of an event.
class devFunc : public PlainRecord<devFunc>
{
public:
    static constexpr const char *kClassName = "devFunc";
    enum Field {
        F_devid,
        F_dim_percent,
        F_dimto,
        F_eprom_address,
        F_func,
        F_new_string,
        F_secs_delay,
        F_setpoint_action,
        F_Tag
    };

    static std::span<const FieldSpec> fieldSpecs();
};

using devFuncPtr = std::shared_ptr<devFunc>;
