#include "Binder.h"

#include "automation/Latin1Case.h"

bool Binder::bindToClass(NameExpr &name, const ClassDef *cls)
{
    if (!cls)
        return false;
    auto f = cls->fieldIndex.constFind(name.lower);
    if (f != cls->fieldIndex.constEnd()) {
        name.bind.kind = RefKind::Field;
        name.bind.slot = *f;
        return true;
    }
    if (cls->members.contains(name.lower)) {
        name.bind.kind = RefKind::MeMember;
        return true;
    }
    return false;
}

void Binder::bindProcedure(Procedure &proc, const QStringList &declared, const QStringList &redimmed,
                           const std::vector<NameExpr *> &uses)
{
    int slot = 0;
    for (const Param &p : proc.params)
        proc.locals.insert(Latin1Case::lower(p.name), slot++);
    if (proc.kind == ProcKind::Function || proc.kind == ProcKind::PropertyGet) {
        proc.resultSlot = slot++;
        if (!proc.locals.contains(proc.lower))
            proc.locals.insert(proc.lower, proc.resultSlot);
    }
    for (const QString &d : declared)
        if (!proc.locals.contains(d))
            proc.locals.insert(d, slot++);
    for (NameExpr *n : uses) {
        bool ownName = n->lower == proc.lower && proc.resultSlot >= 0;
        if (ownName && n->isCall) {
            // f(x) inside f calls f again.
            if (!bindToClass(*n, proc.owner))
                n->bind.kind = RefKind::Dynamic;
            continue;
        }
        auto l = proc.locals.constFind(n->lower);
        if (l != proc.locals.constEnd()) {
            n->bind.kind = RefKind::Local;
            n->bind.slot = *l;
            continue;
        }
        if (bindToClass(*n, proc.owner))
            continue;
        n->bind.kind = RefKind::Dynamic;
        n->bind.implicitOk = redimmed.contains(n->lower);
        auto it = proc.implicitSlots.constFind(n->lower);
        if (it == proc.implicitSlots.constEnd())
            it = proc.implicitSlots.insert(n->lower, slot++);
        n->bind.slot = *it;
    }
    proc.slotCount = slot;
}

void Binder::bindOuter(const std::vector<NameExpr *> &uses, const Procedure *proc, const ClassDef *cls)
{
    for (NameExpr *n : uses) {
        if (proc && n->isCall && n->lower == proc->lower && proc->resultSlot >= 0) {
            // f(x) in a text that f evaluates or executes calls f again, as in f's own body.
            if (!bindToClass(*n, cls)) {
                n->bind.kind = RefKind::Dynamic;
                n->bind.slot = -1;
                n->bind.frameScoped = true;
            }
            continue;
        }
        if (proc) {
            auto l = proc->locals.constFind(n->lower);
            if (l != proc->locals.constEnd()) {
                n->bind.kind = RefKind::Local;
                n->bind.slot = *l;
                continue;
            }
        }
        if (bindToClass(*n, cls))
            continue;
        n->bind.kind = RefKind::Dynamic;
        n->bind.slot = -1;
        n->bind.frameScoped = proc != nullptr;
    }
}
