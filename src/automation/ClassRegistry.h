#pragma once

#include "Object.h"

#include <QHash>
#include <QString>
#include <functional>

// The creatable classes by ProgID ("xaptvkKorvane.XapMessage"), what
// CreateObject asks for. Names are looked up without regard to case.
class ClassRegistry
{
public:
    using Factory = std::function<ObjectPtr()>;

    static ClassRegistry &instance();

    void add(const QString &progId, Factory factory);
    bool contains(const QString &progId) const;
    // Raises 429 "ActiveX component can't create object" for an unknown ProgID.
    ObjectPtr create(const QString &progId) const;
    QStringList progIds() const;

private:
    ClassRegistry();
    QHash<QString, std::pair<QString, Factory>> m_factories;
};
