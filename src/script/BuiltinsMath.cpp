// The numeric functions, Rnd with VB's own generator, and the number formats
// (US style: "," groups, "." decimals, "$" currency).
#include "Builtins.h"

#include "Interpreter.h"
#include "Operators.h"
#include "VbError.h"
#include "VbString.h"

#include <QTime>
#include <cmath>
#include <algorithm>
#include <cstring>

namespace {

using Args = std::vector<Variant>;

Variant num(const Variant &v)
{
    Variant x = Operators::operand(v);
    if (x.isString())
        return Variant(x.toDouble());
    if (x.type() == Variant::Boolean)
        return Variant::fromInteger(x.rawBool() ? -1 : 0);
    if (x.isEmpty())
        return Variant::fromInteger(0);
    if (x.type() == Variant::Date)
        return Variant(x.rawDate());
    if (!x.isNumber() && !x.isNull())
        throw VbError(VbErr::TypeMismatch);
    return x;
}

double dbl(const Variant &v)
{
    Variant x = Operators::operand(v);
    if (x.isNull())
        throw VbError(VbErr::InvalidUseOfNull);
    return x.toDouble();
}

Variant floatResult(double r)
{
    if (std::isnan(r) || std::isinf(r))
        throw VbError(VbErr::Overflow);
    return Variant(r);
}

Variant fnAbs(Interpreter &, Frame &, Args &a)
{
    Variant x = num(a[0]);
    switch (x.type()) {
    case Variant::Null: return x;
    case Variant::Byte: return x;
    case Variant::Integer: return x.rawInteger() < 0 ? Operators::negate(x) : x;
    case Variant::Long: return x.rawLong() < 0 ? Operators::negate(x) : x;
    case Variant::Single: return Variant::fromSingle(std::fabs(x.rawSingle()));
    case Variant::Currency: return Variant::fromCurrency(std::llabs(x.rawCurrency()));
    default: return Variant(std::fabs(x.toDouble()));
    }
}

template<double (*F)(double)>
Variant rounding(Interpreter &, Frame &, Args &a)
{
    if (a[0].type() == Variant::Date) // the day, without its time
        return Variant::fromDate(F(a[0].rawDate()));
    Variant x = num(a[0]);
    switch (x.type()) {
    case Variant::Null:
    case Variant::Byte:
    case Variant::Integer:
    case Variant::Long: return x;
    case Variant::Single: return Variant::fromSingle(float(F(double(x.rawSingle()))));
    case Variant::Currency: return Variant::fromCurrency(qint64(F(double(x.rawCurrency()) / 10000.0) * 10000.0));
    default: return Variant(F(x.toDouble()));
    }
}

double floorFn(double d) { return std::floor(d); }
double truncFn(double d) { return std::trunc(d); }

Variant fnSgn(Interpreter &, Frame &, Args &a)
{
    double d = dbl(a[0]);
    return Variant::fromInteger(qint16(d > 0 ? 1 : d < 0 ? -1 : 0));
}

template<double (*F)(double)>
Variant unaryMath(Interpreter &, Frame &, Args &a)
{
    return floatResult(F(dbl(a[0])));
}

double atnFn(double d) { return std::atan(d); }
double cosFn(double d) { return std::cos(d); }
double sinFn(double d) { return std::sin(d); }
double tanFn(double d) { return std::tan(d); }
double expFn(double d) { return std::exp(d); }

Variant fnLog(Interpreter &, Frame &, Args &a)
{
    double d = dbl(a[0]);
    if (d <= 0)
        throw VbError(VbErr::InvalidProcedureCall);
    return Variant(std::log(d));
}

Variant fnSqr(Interpreter &, Frame &, Args &a)
{
    double d = dbl(a[0]);
    if (d < 0)
        throw VbError(VbErr::InvalidProcedureCall);
    return Variant(std::sqrt(d));
}

double roundTo(double value, int digits)
{
    if (digits == 0)
        return VbString::roundHalfEven(value);
    double scale = std::pow(10.0, digits);
    double scaled = value * scale;
    // Undo the binary noise of the scaling before deciding a half.
    double nearest = std::round(scaled * 1e6) / 1e6;
    return VbString::roundHalfEven(nearest) / scale;
}

Variant fnRound(Interpreter &, Frame &, Args &a)
{
    const Variant given = Operators::operand(a[0]);
    Variant x = num(given);
    int digits = Builtins::missing(a, 1) ? 0 : Operators::operand(a[1]).toLong();
    if (digits < 0)
        throw VbError(VbErr::InvalidProcedureCall);
    if (given.type() == Variant::Boolean) // a whole number already, and keeps its type
        return given;
    switch (x.type()) {
    case Variant::Null:
    case Variant::Byte:
    case Variant::Integer:
    case Variant::Long: return x;
    case Variant::Single: return Variant::fromSingle(float(roundTo(double(x.rawSingle()), digits)));
    case Variant::Currency:
        return Variant::fromCurrency(qint64(std::llround(roundTo(double(x.rawCurrency()) / 10000.0, digits) * 10000.0)));
    default: return Variant(roundTo(x.toDouble(), digits));
    }
}

// RGB: a colour as a Long, red in the low byte; a part above 255 counts as 255.
Variant fnRGB(Interpreter &, Frame &, Args &a)
{
    qint32 colour = 0;
    for (int i = 0; i < 3; ++i) {
        const Variant part = Operators::operand(a[size_t(i)]);
        if (part.isNull())
            throw VbError(VbErr::InvalidUseOfNull);
        const qint32 n = part.toLong();
        if (n < 0)
            throw VbError(VbErr::InvalidProcedureCall);
        colour |= std::min<qint32>(n, 255) << (8 * i);
    }
    return Variant::fromLong(colour);
}

quint32 floatBits(float f)
{
    quint32 bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

Variant fnRnd(Interpreter &in, Frame &, Args &a)
{
    if (!a.empty() && !a[0].isEmpty()) {
        float n = float(dbl(a[0]));
        if (n == 0)
            return Variant::fromSingle(in.rndLast);
        if (n < 0) {
            quint32 bits = floatBits(n);
            in.rndSeed = (bits + (bits >> 24)) & 0xFFFFFF;
        }
    }
    in.rndSeed = (in.rndSeed * 0x43FD43FDu + 0xC39EC3u) & 0xFFFFFFu;
    in.rndLast = float(in.rndSeed) / 16777216.0f;
    return Variant::fromSingle(in.rndLast);
}

Variant fnRandomize(Interpreter &in, Frame &, Args &a)
{
    double seed = a.empty() || a[0].isEmpty() ? QTime::currentTime().msecsSinceStartOfDay() / 1000.0 : dbl(a[0]);
    quint64 bits;
    std::memcpy(&bits, &seed, sizeof bits);
    quint32 high = quint32(bits >> 32);
    quint32 mixed = ((high & 0xFFFF) ^ (high >> 16)) << 8;
    in.rndSeed = (in.rndSeed & 0xFF) | (mixed & 0xFFFF00);
    return Variant();
}

// Groups of three digits, a fixed number of decimals, halves away from zero.
QString formatFixed(double value, int digits, bool leadingZero, bool group)
{
    double scale = std::pow(10.0, digits);
    double rounded = std::round(std::fabs(value) * scale + 1e-9) / scale;
    QString s = QString::number(rounded, 'f', digits);
    QString whole = s, frac;
    int dot = int(s.indexOf(QLatin1Char('.')));
    if (dot >= 0) {
        whole = s.left(dot);
        frac = s.mid(dot);
    }
    if (group) {
        for (int i = int(whole.size()) - 3; i > 0; i -= 3)
            whole.insert(i, QLatin1Char(','));
    }
    if (!leadingZero && whole == QLatin1String("0") && !frac.isEmpty())
        whole.clear();
    return whole + frac;
}

struct NumberFormat {
    double value = 0;
    int digits = 2;
    bool leadingZero = true;
    bool parens = false;
    bool group = true;
    bool isNull = false;
};

NumberFormat readFormat(const Args &a, bool parensDefault)
{
    NumberFormat f;
    Variant x = Operators::operand(a[0]);
    if (x.isNull()) {
        f.isNull = true;
        return f;
    }
    f.value = x.toDouble();
    f.parens = parensDefault;
    auto tristate = [&](size_t i, bool def) {
        if (Builtins::missing(a, i))
            return def;
        int v = Operators::operand(a[i]).toLong();
        return v == -2 ? def : v != 0;
    };
    if (!Builtins::missing(a, 1)) {
        f.digits = Operators::operand(a[1]).toLong();
        if (f.digits == -1)
            f.digits = 2;
        if (f.digits < 0 || f.digits > 255)
            throw VbError(VbErr::InvalidProcedureCall);
    }
    f.leadingZero = tristate(2, true);
    f.parens = tristate(3, parensDefault);
    f.group = tristate(4, true);
    return f;
}

QString applySign(const NumberFormat &f, const QString &body, double shown)
{
    bool negative = f.value < 0 && shown != 0;
    if (!negative)
        return body;
    return f.parens ? QLatin1Char('(') + body + QLatin1Char(')') : QLatin1Char('-') + body;
}

Variant fnFormatNumber(Interpreter &, Frame &, Args &a)
{
    NumberFormat f = readFormat(a, false);
    if (f.isNull)
        throw VbError(VbErr::TypeMismatch);
    QString body = formatFixed(f.value, f.digits, f.leadingZero, f.group);
    return Variant(applySign(f, body, QString(body).remove(QLatin1Char(',')).toDouble()));
}

Variant fnFormatCurrency(Interpreter &, Frame &, Args &a)
{
    NumberFormat f = readFormat(a, true);
    if (f.isNull)
        throw VbError(VbErr::TypeMismatch);
    QString body = formatFixed(f.value, f.digits, f.leadingZero, f.group);
    return Variant(applySign(f, QLatin1Char('$') + body, QString(body).remove(QLatin1Char(',')).toDouble()));
}

Variant fnFormatPercent(Interpreter &, Frame &, Args &a)
{
    NumberFormat f = readFormat(a, false);
    if (f.isNull)
        throw VbError(VbErr::TypeMismatch);
    f.value *= 100;
    QString body = formatFixed(f.value, f.digits, f.leadingZero, f.group);
    return Variant(applySign(f, body, QString(body).remove(QLatin1Char(',')).toDouble()) + QLatin1Char('%'));
}

} // namespace

void Builtins::addMath(BuiltinTable &t)
{
    auto add = [&](const char *name, Builtin::Fn fn, int minArgs, int maxArgs) {
        t.insert(QString::fromLatin1(name), Builtin{fn, minArgs, maxArgs, {}});
    };
    add("abs", fnAbs, 1, 1);
    add("int", rounding<floorFn>, 1, 1);
    add("fix", rounding<truncFn>, 1, 1);
    add("sgn", fnSgn, 1, 1);
    add("atn", unaryMath<atnFn>, 1, 1);
    add("cos", unaryMath<cosFn>, 1, 1);
    add("sin", unaryMath<sinFn>, 1, 1);
    add("tan", unaryMath<tanFn>, 1, 1);
    add("exp", unaryMath<expFn>, 1, 1);
    add("log", fnLog, 1, 1);
    add("sqr", fnSqr, 1, 1);
    add("round", fnRound, 1, 2);
    add("rgb", fnRGB, 3, 3);
    add("rnd", fnRnd, 0, 1);
    add("randomize", fnRandomize, 0, 1);
    add("formatnumber", fnFormatNumber, 1, 5);
    add("formatcurrency", fnFormatCurrency, 1, 5);
    add("formatpercent", fnFormatPercent, 1, 5);
}
