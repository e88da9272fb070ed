#pragma once

#include "host/FieldRecord.h"

// One device action of an event.
class devFunc : public DispatchObject<devFunc>, public FieldRecord
{
public:
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

    devFunc();
    static void describe(DispatchTable<devFunc> &t);
    static std::span<const FieldSpec> fieldSpecs();
    void assignField(int index, const Variant &value) { storeField(index, value); }
};

using devFuncPtr = std::shared_ptr<devFunc>;
