#pragma once

#include "host/FieldRecord.h"

// The custom-status object of a device record: two properties that keep nothing.
class CustomStatus : public PlainRecord<CustomStatus>
{
public:
    static constexpr const char *kClassName = "CustomStatus";
    static std::span<const FieldSpec> fieldSpecs();
};
