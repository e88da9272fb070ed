#include "host/GlobalVar.h"

void GlobalVar::describe(DispatchTable<GlobalVar> &t)
{
    t.name(QStringLiteral("GlobalVar"));
    // Let and Set both store the value as given; Get hands it back.
    t.raw(QStringLiteral("Data"), [](GlobalVar &self, CallKind kind, std::vector<Variant> &args) -> Variant {
        if (kind == CallKind::PropertyLet || kind == CallKind::PropertySet) {
            if (args.size() != 1)
                throw VbError(VbErr::WrongArgumentCount);
            self.Data = args.front();
            return Variant();
        }
        if (!args.empty())
            throw VbError(VbErr::WrongArgumentCount);
        return self.Data;
    });
}
