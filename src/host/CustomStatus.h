#pragma once

#include "host/FieldRecord.h"

// The custom-status object of a device record: two properties that keep nothing.
class CustomStatus : public DispatchObject<CustomStatus>, public FieldRecord
{
public:
    CustomStatus();
    static void describe(DispatchTable<CustomStatus> &t);
    static std::span<const FieldSpec> fieldSpecs();
    void assignField(int index, const Variant &value) { storeField(index, value); }
};
