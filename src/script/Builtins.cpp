#include "Builtins.h"

#include "automation/Latin1Case.h"

namespace Builtins {

const Builtin *find(const QString &lower)
{
    static const BuiltinTable table = [] {
        BuiltinTable t;
        addStrings(t);
        addDates(t);
        addMath(t);
        addConversions(t);
        addRuntime(t);
        addConstants(t);
        return t;
    }();
    auto it = table.constFind(lower);
    return it == table.constEnd() ? nullptr : &*it;
}

bool anyNull(const std::vector<Variant> &a, size_t count)
{
    for (size_t i = 0; i < count && i < a.size(); ++i)
        if (a[i].isNull())
            return true;
    return false;
}

void addConstants(BuiltinTable &t)
{
    auto c = [&](const char *name, Variant v) {
        Builtin b;
        b.constant = std::move(v);
        t.insert(Latin1Case::lower(QString::fromLatin1(name)), b);
    };
    auto i = [](int v) { return Variant::fromInteger(qint16(v)); };
    auto l = [](int v) { return Variant::fromLong(v); };
    c("vbCr", "\r");
    c("vbLf", "\n");
    c("vbCrLf", "\r\n");
    c("vbNewLine", "\r\n");
    c("vbTab", "\t");
    c("vbBack", QString(QChar(8)));
    c("vbFormFeed", QString(QChar(12)));
    c("vbVerticalTab", QString(QChar(11)));
    c("vbNullChar", QString(QChar(0)));
    c("vbNullString", QString());
    c("vbObjectError", l(-2147221504));
    c("vbTrue", i(-1));
    c("vbFalse", i(0));
    c("vbUseDefault", i(-2));
    c("vbBinaryCompare", i(0));
    c("vbTextCompare", i(1));
    c("vbDatabaseCompare", i(2));
    const char *days[] = {"vbSunday", "vbMonday", "vbTuesday", "vbWednesday", "vbThursday", "vbFriday", "vbSaturday"};
    for (int d = 0; d < 7; ++d)
        c(days[d], i(d + 1));
    c("vbUseSystemDayOfWeek", i(0));
    c("vbUseSystem", i(0));
    c("vbFirstJan1", i(1));
    c("vbFirstFourDays", i(2));
    c("vbFirstFullWeek", i(3));
    c("vbGeneralDate", i(0));
    c("vbLongDate", i(1));
    c("vbShortDate", i(2));
    c("vbLongTime", i(3));
    c("vbShortTime", i(4));
    c("vbOKOnly", i(0));
    c("vbOKCancel", i(1));
    c("vbAbortRetryIgnore", i(2));
    c("vbYesNoCancel", i(3));
    c("vbYesNo", i(4));
    c("vbRetryCancel", i(5));
    c("vbCritical", i(16));
    c("vbQuestion", i(32));
    c("vbExclamation", i(48));
    c("vbInformation", i(64));
    c("vbDefaultButton1", i(0));
    c("vbDefaultButton2", i(256));
    c("vbDefaultButton3", i(512));
    c("vbDefaultButton4", i(768));
    c("vbApplicationModal", i(0));
    c("vbSystemModal", i(4096));
    c("vbOK", i(1));
    c("vbCancel", i(2));
    c("vbAbort", i(3));
    c("vbRetry", i(4));
    c("vbIgnore", i(5));
    c("vbYes", i(6));
    c("vbNo", i(7));
    c("vbEmpty", i(0));
    c("vbNull", i(1));
    c("vbInteger", i(2));
    c("vbLong", i(3));
    c("vbSingle", i(4));
    c("vbDouble", i(5));
    c("vbCurrency", i(6));
    c("vbDate", i(7));
    c("vbString", i(8));
    c("vbObject", i(9));
    c("vbError", i(10));
    c("vbBoolean", i(11));
    c("vbVariant", i(12));
    c("vbDataObject", i(13));
    c("vbDecimal", i(14));
    c("vbByte", i(17));
    c("vbArray", i(8192));
    c("vbBlack", l(0));
    c("vbRed", l(255));
    c("vbGreen", l(65280));
    c("vbYellow", l(65535));
    c("vbBlue", l(16711680));
    c("vbMagenta", l(16711935));
    c("vbCyan", l(16776960));
    c("vbWhite", l(16777215));
}

} // namespace Builtins
