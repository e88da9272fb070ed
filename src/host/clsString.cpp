#include "host/clsString.h"

void clsString::describe(DispatchTable<clsString> &t)
{
    t.name(QStringLiteral("clsString"));
    t.method("Reset", &clsString::Reset);
    t.get("Value", &clsString::Value);
    t.method("Add", &clsString::Add);
}
