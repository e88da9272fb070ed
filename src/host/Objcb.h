#pragma once

#include "host/FieldRecord.h"

// A callback record of the host interface; kept for clients that create one.
class objcb : public PlainRecord<objcb>
{
public:
    static constexpr const char *kClassName = "objcb";
    enum Field {
        F_evtype,
        F_Handle,
        F_obj
    };

    static std::span<const FieldSpec> fieldSpecs();
};

using objcbPtr = std::shared_ptr<objcb>;
