#pragma once

#include "automation/Dispatch.h"

// One named value that scripts keep for the life of the process: any value,
// an object reference too.
class GlobalVar : public DispatchObject<GlobalVar>
{
public:
    static void describe(DispatchTable<GlobalVar> &t);

    void visitHeld(HeldValues &visitor) override { visitor.value(Data); }

    Variant Data;
};

using GlobalVarPtr = std::shared_ptr<GlobalVar>;
