// What reaches the engine itself: objects, Err, Eval/Execute, the prompts
// and the engine's version.
#include "Builtins.h"

#include "ClassRegistry.h"
#include "Interpreter.h"
#include "Operators.h"

namespace {

using Args = std::vector<Variant>;

QString text(const Variant &v)
{
    Variant x = Operators::operand(v);
    return x.isNull() ? QString() : x.toString();
}

Variant fnCreateObject(Interpreter &, Frame &, Args &a)
{
    return Variant(ClassRegistry::instance().create(text(a[0])));
}

Variant fnGetObject(Interpreter &, Frame &, Args &)
{
    throw VbError(VbErr::CantCreateObject);
}

Variant fnGetRef(Interpreter &in, Frame &f, Args &a)
{
    return Variant(in.getRef(f, text(a[0])));
}

Variant fnEval(Interpreter &in, Frame &f, Args &a)
{
    return in.evalText(f, text(a[0]));
}

Variant fnExecute(Interpreter &in, Frame &f, Args &a)
{
    in.executeText(f, text(a[0]), false);
    return Variant();
}

Variant fnExecuteGlobal(Interpreter &in, Frame &f, Args &a)
{
    in.executeText(f, text(a[0]), true);
    return Variant();
}

Variant fnErr(Interpreter &in, Frame &, Args &)
{
    return Variant(ObjectPtr(in.errObject()));
}

// The answer a prompt gives when nobody can answer: its default button.
qint16 defaultAnswer(int buttons)
{
    static const qint16 sets[6][3] = {{1, 1, 1}, {1, 2, 2}, {3, 4, 5}, {6, 7, 2}, {6, 7, 7}, {4, 2, 2}};
    int set = buttons & 7;
    if (set > 5)
        set = 0;
    int which = (buttons >> 8) & 3;
    return sets[set][std::min(which, 2)];
}

Variant fnMsgBox(Interpreter &in, Frame &, Args &a)
{
    if (!in.allowUI)
        throw VbError(70);
    int buttons = Builtins::missing(a, 1) ? 0 : Operators::operand(a[1]).toLong();
    QString title = Builtins::missing(a, 2) ? QStringLiteral("VBScript") : text(a[2]);
    in.showText(QStringLiteral("MsgBox [%1]: %2").arg(title, text(a[0])));
    return Variant::fromInteger(defaultAnswer(buttons));
}

Variant fnInputBox(Interpreter &in, Frame &, Args &a)
{
    if (!in.allowUI)
        throw VbError(70);
    QString title = Builtins::missing(a, 1) ? QStringLiteral("VBScript") : text(a[1]);
    QString answer = Builtins::missing(a, 2) ? QString() : text(a[2]);
    in.showText(QStringLiteral("InputBox [%1]: %2").arg(title, text(a[0])));
    return Variant(answer);
}

Variant fnScriptEngine(Interpreter &, Frame &, Args &) { return Variant("VBScript"); }
Variant fnMajor(Interpreter &, Frame &, Args &) { return Variant::fromLong(5); }
Variant fnMinor(Interpreter &, Frame &, Args &) { return Variant::fromLong(8); }
Variant fnBuild(Interpreter &, Frame &, Args &) { return Variant::fromLong(16384); }
Variant fnGetLocale(Interpreter &, Frame &, Args &) { return Variant::fromLong(1033); }
Variant fnSetLocale(Interpreter &, Frame &, Args &) { return Variant::fromLong(1033); }

} // namespace

void Builtins::addRuntime(BuiltinTable &t)
{
    auto add = [&](const char *name, Builtin::Fn fn, int minArgs, int maxArgs) {
        t.insert(QString::fromLatin1(name), Builtin{fn, minArgs, maxArgs, {}});
    };
    add("createobject", fnCreateObject, 1, 2);
    add("getobject", fnGetObject, 0, 2);
    add("getref", fnGetRef, 1, 1);
    add("eval", fnEval, 1, 1);
    add("execute", fnExecute, 1, 1);
    add("executeglobal", fnExecuteGlobal, 1, 1);
    add("err", fnErr, 0, 0);
    add("msgbox", fnMsgBox, 1, 5);
    add("inputbox", fnInputBox, 1, 7);
    add("scriptengine", fnScriptEngine, 0, 0);
    add("scriptenginemajorversion", fnMajor, 0, 0);
    add("scriptengineminorversion", fnMinor, 0, 0);
    add("scriptenginebuildversion", fnBuild, 0, 0);
    add("getlocale", fnGetLocale, 0, 0);
    add("setlocale", fnSetLocale, 0, 1);
}
