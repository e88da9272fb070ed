#pragma once

#include "host/FieldRecord.h"

// One learned-IR slot of the host; DC is "R" and the slot number.
class IR : public PlainRecord<IR>
{
public:
    static constexpr const char *kClassName = "IR";
    enum Field { F_LastChange, F_ScriptTag, F_TriggerEvent, F_DC };

    static std::span<const FieldSpec> fieldSpecs();

    // The date that means "never received or played": 2000-01-01 00:00.
    static double neverChanged();

    double lastChange() const { return field(F_LastChange).rawDate(); }
    QString scriptTag() const { return field(F_ScriptTag).rawString(); }
    bool triggerEvent() const { return field(F_TriggerEvent).rawBool(); }
    QString dc() const { return field(F_DC).rawString(); }
};

using IRPtr = std::shared_ptr<IR>;
