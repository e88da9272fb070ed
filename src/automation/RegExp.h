#pragma once

#include "Dispatch.h"
#include "MemoryBudget.h"

#include <QRegularExpression>
#include <optional>

// VBScript's RegExp object ("IRegExp2"; New RegExp, "VBScript.RegExp"):
// Pattern in the ECMAScript dialect, Global, IgnoreCase, Multiline; Test,
// Execute and Replace. A bad pattern raises its error when it is first used.
class RegExp : public DispatchObject<RegExp>
{
public:
    static void describe(DispatchTable<RegExp> &t);

    // C++ side.
    void setPattern(const QString &pattern);
    void setGlobal(bool on) { m_global = on; }
    void setIgnoreCase(bool on);
    void setMultiline(bool on);
    bool test(const QString &text);
    ObjectPtr execute(const QString &text);
    QString replace(const QString &text, const QString &replacement);

private:
    struct Found {
        qsizetype start = 0;
        qsizetype end = 0;
        std::vector<std::optional<std::pair<qsizetype, qsizetype>>> groups; // start, end
    };

    const QRegularExpression &compiled();
    // Calls `each` for the matches Global asks for (all, or the first), in
    // order, as the dialect steps past an empty match: one character on. Each
    // search starts where the last one ended, so a whole text takes one pass.
    template<class F>
    void find(const QString &text, bool all, F &&each);
    // Hands a match to `each` and moves `offset` past it; false when the search is done.
    template<class F>
    static bool step(const Found &f, bool all, const QString &text, qsizetype &offset, F &each);
    static void expand(MemoryBudget::TextBuilder &out, const QString &replacement, const QString &text,
                       const Found &f);

    QString Pattern() const { return m_pattern; }
    void setPatternText(const QString &pattern) { setPattern(pattern); }
    bool Global() const { return m_global; }
    void setGlobalFlag(bool on) { setGlobal(on); }
    bool IgnoreCase() const { return m_ignoreCase; }
    void setIgnoreCaseFlag(bool on) { setIgnoreCase(on); }
    bool Multiline() const { return m_multiline; }
    void setMultilineFlag(bool on) { setMultiline(on); }
    bool Test(const Variant &text);
    ObjectPtr Execute(const Variant &text);
    QString Replace(const Variant &text, const Variant &replacement);

    // The library's private block behind an unused expression.
    static constexpr qint64 kBaseBytes = 256;
    QString m_pattern;
    MemoryBudget::Held m_held{kBaseBytes}; // the pattern's text and its compiled form
    bool m_global = false;
    bool m_ignoreCase = false;
    bool m_multiline = false;
    bool m_dirty = true;
    int m_groups = 0;
    QRegularExpression m_regex;
};
