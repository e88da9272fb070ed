#pragma once

#include "host/FieldRecord.h"

// One condition of an event.
class condition : public DispatchObject<condition>, public FieldRecord
{
public:
    enum Field {
        F_condition,
        F_ctype,
        F_dev_ref,
        F_orindex,
        F_plugin,
        F_time
    };

    condition();
    static void describe(DispatchTable<condition> &t);
    static std::span<const FieldSpec> fieldSpecs();
    void assignField(int index, const Variant &value) { storeField(index, value); }
};

using conditionPtr = std::shared_ptr<condition>;
