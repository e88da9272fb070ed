#include "RegExp.h"

#include "RegExpDialect.h"
#include "RegExpList.h"
#include "RegExpMatch.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <memory>

namespace {

[[noreturn]] void tooComplex(int code)
{
    if (code == PCRE2_ERROR_MATCHLIMIT || code == PCRE2_ERROR_DEPTHLIMIT)
        throw VbError(5017, QStringLiteral("Regular expression too complex: the search of this text "
                                           "backtracks past the limit (nested repetition such as (a+)+)"));
    throw VbError(5017, QStringLiteral("Regular expression too complex: the text is too long for "
                                       "this pattern's repetition"));
}

// The library's usual path keeps a small fixed stack (half a megabyte) for a search, and a
// plain repetition of a group, such as "(a|b)*" or "(.|\n)*", takes some of it for every
// character: over a few tens of thousands of characters it gives up though the search is
// linear. A search it gave up on is made again here with room to finish; what stops this
// one is then the pattern's own fault (its backtracking steps) or a text too long for it.
class DeepSearch
{
public:
    DeepSearch(const QString &pattern, bool ignoreCase)
    {
        int error = 0;
        PCRE2_SIZE at = 0;
        m_code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.utf16()), PCRE2_SIZE(pattern.size()),
                               PCRE2_UTF | (ignoreCase ? PCRE2_CASELESS : 0u), &error, &at, nullptr);
        if (!m_code)
            throw VbError(5017);
        pcre2_jit_compile(m_code, PCRE2_JIT_COMPLETE);
        m_data = pcre2_match_data_create_from_pattern(m_code, nullptr);
        m_context = pcre2_match_context_create(nullptr);
        m_stack = pcre2_jit_stack_create(32 * 1024, kRoomBytes, nullptr);
        if (!m_data || !m_context || !m_stack)
            throw VbError(VbErr::OutOfMemory);
        pcre2_jit_stack_assign(m_context, nullptr, m_stack);
        pcre2_set_heap_limit(m_context, kRoomBytes / 1024);
    }
    ~DeepSearch()
    {
        pcre2_jit_stack_free(m_stack);
        pcre2_match_context_free(m_context);
        pcre2_match_data_free(m_data);
        pcre2_code_free(m_code);
    }
    DeepSearch(const DeepSearch &) = delete;
    DeepSearch &operator=(const DeepSearch &) = delete;

    // The match's spans (start, end; unset groups PCRE2_UNSET), or nullptr for none. Tried
    // one start at a time: over a long text the library stops looking ahead for a character
    // the match needs, and a near miss then costs a pass per start, which the run's time-out
    // must be able to end.
    const PCRE2_SIZE *match(const QString &text, qsizetype offset)
    {
        const auto *subject = reinterpret_cast<PCRE2_SPTR>(text.utf16());
        for (qsizetype start = offset; start <= text.size(); ++start) {
            if (start > offset && text.at(start - 1).isHighSurrogate() && start < text.size()
                && text.at(start).isLowSurrogate())
                continue;
            const int rc = pcre2_match(m_code, subject, PCRE2_SIZE(text.size()), PCRE2_SIZE(start),
                                       PCRE2_NO_UTF_CHECK | PCRE2_ANCHORED, m_data, m_context);
            if (rc >= 0)
                return pcre2_get_ovector_pointer(m_data);
            if (rc != PCRE2_ERROR_NOMATCH)
                tooComplex(rc);
            if ((start & 0xFF) == 0)
                MemoryBudget::checkLongWork();
        }
        return nullptr;
    }
    quint32 pairs() const { return pcre2_get_ovector_count(m_data); }

private:
    // Reserved, not taken: only what a search uses becomes resident.
    static constexpr size_t kRoomBytes = 64u << 20;
    pcre2_code *m_code = nullptr;
    pcre2_match_data *m_data = nullptr;
    pcre2_match_context *m_context = nullptr;
    pcre2_jit_stack *m_stack = nullptr;
};

QString textOf(const Variant &v)
{
    const Variant x = v.isObject() ? v.defaultValue() : v;
    return x.toString();
}

// The replacement reaches the object as a plain value: a Boolean is its
// number, "-1" or "0", not the word.
QString replacementOf(const Variant &v)
{
    const Variant x = v.isObject() ? v.defaultValue() : v;
    if (x.type() == Variant::Boolean)
        return QString::number(x.rawBool() ? -1 : 0);
    return x.toString();
}

bool hasBrokenSurrogate(const QString &text)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate()) {
            if (i + 1 >= n || !text.at(i + 1).isLowSurrogate())
                return true;
            ++i;
        } else if (c.isLowSurrogate()) {
            return true;
        }
    }
    return false;
}

} // namespace

void RegExp::describe(DispatchTable<RegExp> &t)
{
    t.name(QStringLiteral("IRegExp2"));
    t.property(QStringLiteral("Pattern"), &RegExp::Pattern, &RegExp::setPatternText);
    t.property(QStringLiteral("Global"), &RegExp::Global, &RegExp::setGlobalFlag);
    t.property(QStringLiteral("IgnoreCase"), &RegExp::IgnoreCase, &RegExp::setIgnoreCaseFlag);
    t.property(QStringLiteral("Multiline"), &RegExp::Multiline, &RegExp::setMultilineFlag);
    t.method(QStringLiteral("Test"), &RegExp::Test);
    t.method(QStringLiteral("Execute"), &RegExp::Execute);
    t.method(QStringLiteral("Replace"), &RegExp::Replace);
}

void RegExp::setPattern(const QString &pattern)
{
    if (pattern == m_pattern)
        return;
    // The object keeps the text after the value it came in goes, and the library's compiled
    // form of it (about twice the text), made at the first search; the old one's goes now.
    const qint64 held = kBaseBytes + 3 * MemoryBudget::textBytes(pattern);
    if (held > m_held.bytes())
        MemoryBudget::checkBytes(held - m_held.bytes());
    m_pattern = pattern;
    m_regex = QRegularExpression();
    m_held.recount(held);
    m_dirty = true;
}

void RegExp::setIgnoreCase(bool on)
{
    if (on != m_ignoreCase)
        m_dirty = true;
    m_ignoreCase = on;
}

void RegExp::setMultiline(bool on)
{
    if (on != m_multiline)
        m_dirty = true;
    m_multiline = on;
}

const QRegularExpression &RegExp::compiled()
{
    if (m_dirty) {
        RegExpDialect::Translation t = RegExpDialect::translate(m_pattern, m_multiline);
        m_regex = QRegularExpression();
        QRegularExpression re(t.pcre, m_ignoreCase ? QRegularExpression::CaseInsensitiveOption
                                                   : QRegularExpression::NoPatternOption);
        if (!re.isValid())
            throw VbError(5017);
        m_regex = std::move(re);
        m_groups = t.groups;
        m_dirty = false;
    }
    return m_regex;
}

template<class F>
void RegExp::find(const QString &text, bool all, F &&each)
{
    const QRegularExpression &re = compiled();
    // The text is checked for broken surrogate pairs once, by the first search;
    // checking it again at every match would make a global search quadratic.
    QRegularExpression::MatchOptions options = QRegularExpression::NoMatchOption;
    qsizetype offset = 0;
    Found f;
    std::unique_ptr<DeepSearch> deep;
    while (offset <= text.size()) {
        if (deep) {
            const PCRE2_SIZE *spans = deep->match(text, offset);
            if (!spans)
                break;
            f.start = qsizetype(spans[0]);
            f.end = qsizetype(spans[1]);
            f.groups.clear();
            for (quint32 g = 1; g <= quint32(m_groups); ++g) {
                if (g >= deep->pairs() || spans[2 * g] == PCRE2_UNSET)
                    f.groups.emplace_back();
                else
                    f.groups.emplace_back(std::make_pair(qsizetype(spans[2 * g]), qsizetype(spans[2 * g + 1])));
            }
            if (!step(f, all, text, offset, each))
                break;
            continue;
        }
        QRegularExpressionMatch m = re.match(text, offset, QRegularExpression::NormalMatch, options);
        if (!m.isValid()) {
            // The library gives up (match or depth limit, typically nested
            // repetition such as "(a+)+" on a long near-miss) the same way it
            // reports no match; answering "no match" then would be a wrong answer.
            // Text with broken surrogate pairs is refused by the first search's
            // check and has always been read as no match.
            if (options == QRegularExpression::NoMatchOption && hasBrokenSurrogate(text))
                break;
            deep = std::make_unique<DeepSearch>(re.pattern(), m_ignoreCase);
            continue;
        }
        if (!m.hasMatch())
            break;
        options = QRegularExpression::DontCheckSubjectStringMatchOption;
        f.start = m.capturedStart(0);
        f.end = m.capturedEnd(0);
        f.groups.clear();
        for (int g = 1; g <= m_groups; ++g) {
            if (m.capturedStart(g) < 0)
                f.groups.emplace_back();
            else
                f.groups.emplace_back(std::make_pair(m.capturedStart(g), m.capturedEnd(g)));
        }
        if (!step(f, all, text, offset, each))
            break;
    }
}

template<class F>
bool RegExp::step(const Found &f, bool all, const QString &text, qsizetype &offset, F &each)
{
    each(f);
    if (!all)
        return false;
    offset = f.end;
    if (f.start == offset) {
        // An empty match: the next search starts one character on (a
        // surrogate pair counts as one).
        if (offset + 1 < text.size() && text.at(offset).isHighSurrogate() && text.at(offset + 1).isLowSurrogate())
            offset += 2;
        else
            offset += 1;
    }
    MemoryBudget::checkLongWork();
    return true;
}

bool RegExp::test(const QString &text)
{
    bool found = false;
    find(text, false, [&](const Found &) { found = true; });
    return found;
}

ObjectPtr RegExp::execute(const QString &text)
{
    std::vector<Variant> matches;
    find(text, m_global, [&](const Found &f) {
        MemoryBudget::checkArray(qint64(f.groups.size()) + 1);
        std::vector<Variant> groups;
        groups.reserve(f.groups.size());
        for (const auto &g : f.groups)
            groups.push_back(g ? Variant(text.mid(g->first, g->second - g->first)) : Variant());
        MemoryBudget::checkString(f.end - f.start);
        matches.emplace_back(ObjectPtr(
            std::make_shared<RegExpMatch>(text.mid(f.start, f.end - f.start), qint32(f.start), std::move(groups))));
    });
    return std::make_shared<RegExpMatches>(std::move(matches));
}

void RegExp::expand(MemoryBudget::TextBuilder &out, const QString &replacement, const QString &text, const Found &f)
{
    const qsizetype n = replacement.size();
    const int groups = int(f.groups.size());
    auto group = [&](int g) {
        const auto &span = f.groups[size_t(g - 1)];
        if (span)
            out.append(QStringView(text).mid(span->first, span->second - span->first));
    };
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = replacement.at(i);
        if (c != QLatin1Char('$') || i + 1 >= n) {
            out.append(c);
            continue;
        }
        const QChar d = replacement.at(i + 1);
        if (d == QLatin1Char('$')) {
            out.append(QLatin1Char('$'));
            ++i;
        } else if (d == QLatin1Char('&')) {
            out.append(QStringView(text).mid(f.start, f.end - f.start));
            ++i;
        } else if (d == QLatin1Char('`')) {
            out.append(QStringView(text).left(f.start));
            ++i;
        } else if (d == QLatin1Char('\'')) {
            out.append(QStringView(text).mid(f.end));
            ++i;
        } else if (d.isDigit() && d.unicode() < 128) {
            // $n, or $nn when the pattern has that many groups; a group the
            // pattern lacks is written as it stands.
            const int one = d.unicode() - '0';
            if (i + 2 < n && replacement.at(i + 2).unicode() >= '0' && replacement.at(i + 2).unicode() <= '9') {
                const int two = one * 10 + (replacement.at(i + 2).unicode() - '0');
                if (two >= 1 && two <= groups) {
                    group(two);
                    i += 2;
                    continue;
                }
            }
            if (one >= 1 && one <= groups) {
                group(one);
                ++i;
            } else {
                out.append(c);
            }
        } else {
            out.append(c);
        }
    }
}

QString RegExp::replace(const QString &text, const QString &replacement)
{
    MemoryBudget::TextBuilder out;
    qsizetype last = 0;
    bool any = false;
    find(text, m_global, [&](const Found &f) {
        any = true;
        out.append(QStringView(text).mid(last, f.start - last));
        expand(out, replacement, text, f);
        last = f.end;
    });
    if (!any)
        return text;
    out.append(QStringView(text).mid(last));
    return out.take();
}

bool RegExp::Test(const Variant &text)
{
    return test(textOf(text));
}

ObjectPtr RegExp::Execute(const Variant &text)
{
    return execute(textOf(text));
}

QString RegExp::Replace(const Variant &text, const Variant &replacement)
{
    return replace(textOf(text), replacementOf(replacement));
}
