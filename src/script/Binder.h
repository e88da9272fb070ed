#pragma once

#include "Ast.h"

// Places every name of a scope once, when its text is compiled: a procedure's
// parameters and variables get frame slots, a class's variables and members
// are reached through Me, and what is left (globals, built-ins, host names)
// is looked up at its first use.
class Binder
{
public:
    // A procedure, with the names it declares (Dim, ReDim, Const) and every
    // name its body uses.
    // ReDim declares a name only when no variable outside has it.
    static void bindProcedure(Procedure &proc, const QStringList &declared, const QStringList &redimmed,
                              const std::vector<NameExpr *> &uses);

    // Text outside any procedure; inside Execute/Eval it sees the locals of
    // the procedure and class it runs in.
    static void bindOuter(const std::vector<NameExpr *> &uses, const Procedure *proc, const ClassDef *cls);

private:
    static bool bindToClass(NameExpr &name, const ClassDef *cls);
};
