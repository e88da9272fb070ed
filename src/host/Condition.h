#pragma once

#include "host/FieldRecord.h"

// One condition of an event.
class condition : public PlainRecord<condition>
{
public:
    static constexpr const char *kClassName = "condition";
    enum Field {
        F_condition,
        F_ctype,
        F_dev_ref,
        F_orindex,
        F_plugin,
        F_time
    };

    static std::span<const FieldSpec> fieldSpecs();
};

using conditionPtr = std::shared_ptr<condition>;
