#include "bridge/TargetPattern.h"

#include "automation/Latin1Case.h"

std::optional<TargetPattern> TargetPattern::fromTarget(const QString &target)
{
    const qsizetype colon = target.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return std::nullopt;
    TargetPattern pattern;
    const QString sub = target.mid(colon + 1);
    if (sub.isEmpty())
        return pattern;
    const QStringList pieces = sub.split(QLatin1Char('.'));
    for (int i = 0; i < 3 && i < pieces.size(); ++i) {
        if (pieces.at(i) == QLatin1String(">"))
            break;
        pattern.m_parts[i] = Latin1Case::lower(pieces.at(i));
    }
    return pattern;
}

bool TargetPattern::matches(const QString &location, const QString &endpoint, const QString &kind) const
{
    return matchesLower(Latin1Case::lower(location), Latin1Case::lower(endpoint), Latin1Case::lower(kind));
}

bool TargetPattern::matchesLower(const QString &location, const QString &endpoint, const QString &kind) const
{
    const QString *values[3] = {&location, &endpoint, &kind};
    for (int i = 0; i < 3; ++i) {
        const QString &p = m_parts.at(i);
        if (p != QLatin1String("*") && p != *values[i])
            return false;
    }
    return true;
}
