#pragma once

#include "Variant.h"

#include <QHash>
#include <vector>

class Interpreter;
struct Frame;

// A function or constant of the language (Len, Now, vbCrLf...). Arguments
// arrive as values; a left-out argument is Empty.
struct Builtin {
    using Fn = Variant (*)(Interpreter &, Frame &, std::vector<Variant> &);
    Fn fn = nullptr;  // null for a constant
    int minArgs = 0;
    int maxArgs = 0;
    Variant constant;
};

using BuiltinTable = QHash<QString, Builtin>;

namespace Builtins {
// By lower-cased name; null when the language has no such name.
const Builtin *find(const QString &lower);

// The parts of the table, one per area.
void addStrings(BuiltinTable &t);
void addDates(BuiltinTable &t);
void addMath(BuiltinTable &t);
void addConversions(BuiltinTable &t);
void addRuntime(BuiltinTable &t);
void addConstants(BuiltinTable &t);

// Argument helpers shared by the areas.
inline bool missing(const std::vector<Variant> &a, size_t i) { return i >= a.size() || a[i].isEmpty(); }
bool anyNull(const std::vector<Variant> &a, size_t count);
} // namespace Builtins
