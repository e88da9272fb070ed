#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The three-part pattern (location part, endpoint name, kind) that the
// sub-address of a received target selects endpoints by. "*" matches any
// part; a ">" piece leaves the rest as "*".
class TargetPattern
{
public:
    // Nothing when the target has no ":" (then nothing matches).
    static std::optional<TargetPattern> fromTarget(const QString &target);

    // The endpoint parts are compared lower-cased.
    bool matches(const QString &location, const QString &endpoint, const QString &kind) const;

    // The same for parts already lower-cased.
    bool matchesLower(const QString &location, const QString &endpoint, const QString &kind) const;

    const QStringList &parts() const { return m_parts; }

private:
    QStringList m_parts{QStringLiteral("*"), QStringLiteral("*"), QStringLiteral("*")};
};
