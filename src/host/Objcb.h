#pragma once

#include "host/FieldRecord.h"

// A callback record of the host interface; kept for clients that create one.
class objcb : public DispatchObject<objcb>, public FieldRecord
{
public:
    enum Field {
        F_evtype,
        F_Handle,
        F_obj
    };

    objcb();
    static void describe(DispatchTable<objcb> &t);
    static std::span<const FieldSpec> fieldSpecs();
    void assignField(int index, const Variant &value) { storeField(index, value); }
};

using objcbPtr = std::shared_ptr<objcb>;
