#include "bridge/BscNaming.h"

#include "bridge/PointTables.h"
#include "bridge/ReceivedNumber.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/Latin1Case.h"
#include "automation/PendingError.h"
#include "automation/Variant.h"
#include "automation/VbString.h"

#include <cmath>

namespace BscNaming {

namespace {

bool isX10Letter(QChar c)
{
    return c >= QLatin1Char('A') && c <= QLatin1Char('P');
}

} // namespace

QString ToHex(int n)
{
    static const char digits[] = "0123456789ABCDEF";
    const int v = std::clamp(n, 0, 255);
    return QString(QLatin1Char(digits[v / 16])) + QLatin1Char(digits[v & 15]);
}

int FromHexPair(const QString &text)
{
    if (text.size() != 1 && text.size() != 2)
        return -1;
    const QString pair = text.size() == 1 ? QStringLiteral("0") + Latin1Case::upper(text) : Latin1Case::upper(text);
    int value = 0;
    for (const QChar c : pair) {
        int digit;
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digit = c.unicode() - '0';
        else if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            digit = c.unicode() - 55;
        else
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

QString BscUid(const QString &hex)
{
    return kOwnUid.left(kOwnUid.size() - 2) + hex;
}

QString DefinedDevice(const QString &code, const PointTables &tables)
{
    try {
        const int n = ReceivedCInt(code.mid(1));
        if (n < 1)
            return QString();
        const QString letter = Latin1Case::upper(code.left(1));
        const int asc = letter.at(0).unicode();
        const int vhc = tables.VarsHouseCode();
        if (asc == vhc) {
            const int i = n - 1;
            if (i <= 127 && tables.VarUsed(i) != 0)
                return QStringLiteral("V") + QString::number(i);
        } else if (asc == vhc + 1) {
            const int i = n + 63;
            if (i <= 127 && tables.VarUsed(i) != 0)
                return QStringLiteral("V") + QString::number(i);
        } else if (isX10Letter(letter.at(0))) {
            if (n <= 16 && tables.X10Used((asc - 'A') * 16 + n - 1) != 0)
                return letter + code.mid(1);
        } else {
            const QList<umap> maps = tables.ModulesInUnitOrder();
            for (int m = 0; m < maps.size(); ++m) {
                const umap &u = maps.at(m);
                if (u.utype == 6 || u.hc != letter)
                    continue;
                if (n <= 16 && u.unit >= 0 && u.unit <= 127 && tables.PointUsed(u.unit, n - 1) != 0)
                    return QStringLiteral("X") + QString::number(16 * m + n - 1);
                break;
            }
        }
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("DefinedDevice"));
    }
    return QString();
}

QString EncodeDevice(const QString &name, const PointTables &tables)
{
    QString result = QStringLiteral("quillon") + VbString::Right(QStringLiteral("__________") + name, 10);
    try {
        const QChar first = name.isEmpty() ? QChar() : name.at(0);
        if (first == QLatin1Char('V')) {
            const QString number = VbString::formatDouble(ReceivedNumber(name.mid(1)));
            result = QStringLiteral("Quillon_Var__V") + VbString::Right(QStringLiteral("000") + number, 3);
        } else if (isX10Letter(first)) {
            result = QStringLiteral("Quillon_X10___") + VbString::Right(QStringLiteral("___") + name, 3);
        } else if (first == QLatin1Char('X')) {
            const double k = ReceivedNumber(name.mid(1));
            const long m = long(std::floor(k / 16));
            const long p = (Variant::fromDouble(k).toLong() % 16) + 1;
            const QList<umap> maps = tables.ModulesInUnitOrder();
            if (m >= 0 && m < maps.size()) {
                const QString head = ModuleTypeName(maps.at(int(m)).utype) + QLatin1Char('_') + name
                    + QStringLiteral("____________");
                result = head.left(12) + QStringLiteral("Pt") + VbString::Right(QStringLiteral("__") + QString::number(p), 2);
            }
        }
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("EncodeDevice"));
    }
    return result;
}

QString LocationPart(const QString &location, const QString &name)
{
    QString part = location + QLatin1Char('_') + name;
    part.replace(QLatin1Char(' '), QLatin1Char('_'));
    part.replace(QLatin1Char('='), QLatin1Char('-'));
    part.replace(QLatin1Char(':'), QLatin1Char('-'));
    return part;
}

QString ModuleTypeName(int utype)
{
    switch (utype) {
    case 6:
        return QStringLiteral("SIO16IR");
    case 11:
        return QStringLiteral("SIO16");
    case 12:
        return QStringLiteral("SIO16I");
    case 13:
        return QStringLiteral("RELAY08");
    default:
        return QStringLiteral("SIO");
    }
}

int SubUidNumber(const QString &mapName)
{
    if (mapName.startsWith(QLatin1Char('V')))
        return mapName.mid(1).toInt() + 1;
    if (mapName.startsWith(QLatin1Char('X')))
        return mapName.mid(1).toInt() + 129;
    return 0;
}

QString SubUidHex(const QString &mapName)
{
    if (!mapName.isEmpty() && isX10Letter(mapName.at(0))) {
        const int unit = ReceivedCInt(mapName.mid(1));
        return QStringLiteral("01") + ToHex((mapName.at(0).unicode() - 'A') * 16 + unit - 1);
    }
    return ToHex(SubUidNumber(mapName));
}

bool IsVariableHouse(const QString &house, const PointTables &tables)
{
    if (house.isEmpty())
        return false;
    const int asc = house.at(0).unicode();
    return asc == tables.VarsHouseCode() || asc == tables.VarsHouseCode() + 1;
}

} // namespace BscNaming
