#include "web/AllowedHost.h"

#include "host/Application.h"
#include "host/HostGlobals.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QSysInfo>

namespace AllowedHost {

namespace {

QString normalName(QString name)
{
    name = name.trimmed().toLower();
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    return name;
}

bool isPort(const QString &text)
{
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

} // namespace

QStringList MachineNames()
{
    static const QStringList names = [] {
        QStringList list;
        const QString machine = normalName(QSysInfo::machineHostName());
        if (!machine.isEmpty()) {
            list << machine;
            const QString first = machine.section(QLatin1Char('.'), 0, 0);
            if (first != machine)
                list << first;
            const QString domain = normalName(QHostInfo::localDomainName());
            if (!domain.isEmpty() && first == machine)
                list << machine + QLatin1Char('.') + domain;
        }
        return list;
    }();
    return names;
}

QStringList Configured()
{
    if (!hs)
        return {};
    QString value = hs->getIniSetting(QStringLiteral("tspi_quillon"), QStringLiteral("AllowedHosts"), QString(),
                                      QStringLiteral("tvkXapKorvane.ini"));
    value.remove(QLatin1Char('"'));
    QStringList names;
    for (const QString &part : value.split(QLatin1Char(','), Qt::SkipEmptyParts))
        if (const QString name = normalName(part); !name.isEmpty())
            names << name;
    return names;
}

bool IsAllowed(const QString &hostHeader, const QStringList &extra)
{
    const QString host = hostHeader.trimmed();
    if (host.isEmpty())
        return true;
    if (host.startsWith(QLatin1Char('['))) {
        const qsizetype close = host.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        const QString rest = host.mid(close + 1);
        if (!rest.isEmpty() && !(rest.startsWith(QLatin1Char(':')) && isPort(rest.mid(1))))
            return false;
        QHostAddress address;
        return address.setAddress(host.mid(1, close - 1)) && address.protocol() == QAbstractSocket::IPv6Protocol;
    }
    QString name = host;
    const qsizetype colon = host.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        if (!isPort(host.mid(colon + 1)))
            return false;
        name = host.left(colon);
    }
    name = normalName(name);
    if (name.isEmpty())
        return false;
    QHostAddress address;
    if (address.setAddress(name) && address.protocol() == QAbstractSocket::IPv4Protocol)
        return true;
    if (name == QLatin1String("localhost"))
        return true;
    if (MachineNames().contains(name))
        return true;
    for (const QString &allowed : extra)
        if (normalName(allowed) == name)
            return true;
    return false;
}

} // namespace AllowedHost
