#include "RegExp.h"

#include "RegExpDialect.h"
#include "RegExpMatch.h"
#include "RegExpMatches.h"

namespace {

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
    if (pattern != m_pattern)
        m_dirty = true;
    m_pattern = pattern;
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

std::vector<RegExp::Found> RegExp::find(const QString &text, bool all)
{
    const QRegularExpression &re = compiled();
    std::vector<Found> found;
    qsizetype offset = 0;
    while (offset <= text.size()) {
        QRegularExpressionMatch m = re.match(text, offset);
        if (!m.hasMatch())
            break;
        Found f;
        f.start = m.capturedStart(0);
        f.end = m.capturedEnd(0);
        f.groups.reserve(size_t(m_groups));
        for (int g = 1; g <= m_groups; ++g) {
            if (m.capturedStart(g) < 0)
                f.groups.emplace_back();
            else
                f.groups.emplace_back(std::make_pair(m.capturedStart(g), m.capturedEnd(g)));
        }
        found.push_back(std::move(f));
        if (!all)
            break;
        offset = found.back().end;
        if (found.back().start == offset) {
            // An empty match: the next search starts one character on (a
            // surrogate pair counts as one).
            if (offset + 1 < text.size() && text.at(offset).isHighSurrogate() && text.at(offset + 1).isLowSurrogate())
                offset += 2;
            else
                offset += 1;
        }
    }
    return found;
}

bool RegExp::test(const QString &text)
{
    return !find(text, false).empty();
}

ObjectPtr RegExp::execute(const QString &text)
{
    std::vector<Variant> matches;
    for (const Found &f : find(text, m_global)) {
        std::vector<Variant> groups;
        groups.reserve(f.groups.size());
        for (const auto &g : f.groups)
            groups.push_back(g ? Variant(text.mid(g->first, g->second - g->first)) : Variant());
        matches.emplace_back(ObjectPtr(
            std::make_shared<RegExpMatch>(text.mid(f.start, f.end - f.start), qint32(f.start), std::move(groups))));
    }
    return std::make_shared<RegExpMatches>(std::move(matches));
}

QString RegExp::expand(const QString &replacement, const QString &text, const Found &f)
{
    QString out;
    const qsizetype n = replacement.size();
    const int groups = int(f.groups.size());
    auto group = [&](int g) {
        const auto &span = f.groups[size_t(g - 1)];
        if (span)
            out += QStringView(text).mid(span->first, span->second - span->first);
    };
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = replacement.at(i);
        if (c != QLatin1Char('$') || i + 1 >= n) {
            out += c;
            continue;
        }
        const QChar d = replacement.at(i + 1);
        if (d == QLatin1Char('$')) {
            out += QLatin1Char('$');
            ++i;
        } else if (d == QLatin1Char('&')) {
            out += QStringView(text).mid(f.start, f.end - f.start);
            ++i;
        } else if (d == QLatin1Char('`')) {
            out += QStringView(text).left(f.start);
            ++i;
        } else if (d == QLatin1Char('\'')) {
            out += QStringView(text).mid(f.end);
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
                out += c;
            }
        } else {
            out += c;
        }
    }
    return out;
}

QString RegExp::replace(const QString &text, const QString &replacement)
{
    const std::vector<Found> found = find(text, m_global);
    if (found.empty())
        return text;
    QString out;
    qsizetype last = 0;
    for (const Found &f : found) {
        out += QStringView(text).mid(last, f.start - last);
        out += expand(replacement, text, f);
        last = f.end;
    }
    out += QStringView(text).mid(last);
    return out;
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
