#include "X10Exec.h"
#include "link/CommsLog.h"
#include "link/Frames.h"
#include "PluginState.h"
#include "Protocol.h"

#include "automation/Latin1Case.h"

#include <cmath>

namespace {
const QString kType = "xaptvkKorvane";

// The leading digits of a unit text, 0 when there are none.
int leadingNumber(const QString& s)
{
    int i = 0;
    while (i < s.size() && s.at(i).isSpace())
        ++i;
    long v = 0;
    bool any = false;
    while (i < s.size() && s.at(i).isDigit() && v < 100000) {
        v = v * 10 + s.at(i).digitValue();
        ++i;
        any = true;
    }
    return any ? int(v) : 0;
}

// Fields split at "+", up to the first empty one ("1++3" gives 1 only).
QList<int> unitFields(const QString& devicecode)
{
    QList<int> out;
    if (devicecode.isEmpty())
        return out;
    for (const QString& f : devicecode.split('+')) {
        if (f.isEmpty())
            break;
        out << leadingNumber(f);
    }
    return out;
}

// The numbers met walking the text from one "+" to the next; an empty stretch
// names no unit and is passed over ("1++3" gives 1, 3).
QList<int> unitWalk(const QString& devicecode)
{
    QList<int> out;
    if (devicecode.isEmpty())
        return out;
    qsizetype pos = 0;
    for (;;) {
        if (pos < devicecode.size() && devicecode.at(pos) != '+')
            out << leadingNumber(devicecode.mid(pos));
        const qsizetype plus = devicecode.indexOf('+', pos);
        if (plus < 0)
            break;
        pos = plus + 1;
    }
    return out;
}

// What one request could not send as asked, logged as one entry when the
// request's frames are built: a request naming many bad units is one entry.
struct Notes
{
    QStringList skippedUnits;
    QStringList other;

    quint8 clampByte(int v, const char* what)
    {
        if (v < 0 || v > 255) {
            other << QString("%1 %2 out of range, clamped").arg(what).arg(v);
            return quint8(v < 0 ? 0 : 255);
        }
        return quint8(v);
    }

    bool validUnit(int unit)
    {
        if (unit >= 1 && unit <= 16)
            return true;
        if (skippedUnits.size() < 16)
            skippedUnits << QString::number(unit);
        return false;
    }

    void log(const QString& housecode, const QString& devicecode) const
    {
        QStringList parts = other;
        if (!skippedUnits.isEmpty())
            parts.prepend("unit(s) " + skippedUnits.join(',') + " skipped");
        if (!parts.isEmpty())
            LogControllerError(kType, "ExecX10 " + housecode.left(1) + devicecode.left(64) + ": " + parts.join("; "));
    }
};
} // namespace

X10Exec::X10Exec(Protocol& protocol, QObject* parent) : QObject(parent), m_protocol(protocol) {}

QList<QByteArray> X10Exec::BuildFrames(const QString& housecode, const QString& devicecode, int command,
                                       int brightness, int data1, int data2)
{
    QList<QByteArray> frames;
    Notes notes;
    // "A" is 0; Q (16) is still sent, anything past it or before "A" is refused.
    const int h = housecode.isEmpty() ? -1 : Latin1Case::upper(housecode.at(0)).unicode() - 'A';
    if (h < 0 || h > 16) {
        LogControllerError(kType, "ExecX10 house " + housecode + " skipped");
        return frames;
    }
    const quint8 H = quint8(h);
    auto address = [&](int unit) {
        if (notes.validUnit(unit))
            frames << Frames::Command(0x37, H, quint8(unit - 1), 1);
    };
    switch (command) {
    case -1:
        break;
    case 2:
    case 3:
    case 4:
    case 5: {
        int steps = 0;
        if (command == 4 || command == 5)
            steps = int(std::nearbyint(brightness / 100.0 * 22)); // halves to even
        for (int u : unitWalk(devicecode))
            address(u);
        quint8 f = quint8(0x10 + command);
        quint8 v = (command == 4 || command == 5) ? notes.clampByte(steps, "dim steps") : 1;
        frames << Frames::Command(0x37, H, f, v);
        break;
    }
    case 7:
        for (int u : unitFields(devicecode))
            if (notes.validUnit(u))
                frames << Frames::Command(0x61, H, quint8(u - 1), notes.clampByte(data1, "data1"),
                                          notes.clampByte(data2, "data2"));
        break;
    case 10: {
        int level = qBound(0, brightness, 31);
        if (brightness < 0 || brightness > 31)
            notes.other << "preset level " + QString::number(brightness) + " clamped";
        quint8 f = 0x1A;
        if (level > 15) {
            level -= 16;
            f = 0x1F;
        }
        for (int u : unitFields(devicecode))
            address(u);
        frames << Frames::Command(0x37, quint8(gPlugin.PresetDimTable[size_t(level)]), f, 1);
        break;
    }
    default: {
        if (command < 0) {
            notes.other << "command " + QString::number(command) + " not sent";
            break;
        }
        if (!devicecode.isEmpty())
            address(leadingNumber(devicecode));
        // The function byte is the code + 16, one less past 26; codes above the
        // table follow the same rule and are clamped to a byte.
        int f = command + 16;
        if (f > 26)
            f -= 1;
        frames << Frames::Command(0x37, H, notes.clampByte(f, "function"), 1);
        break;
    }
    }
    notes.log(housecode, devicecode);
    return frames;
}

int X10Exec::ExecX10(const QString& housecode, const QString& devicecode, int command, int brightness,
                     int data1, int data2)
{
    const QList<QByteArray> frames = BuildFrames(housecode, devicecode, command, brightness, data1, data2);
    if (frames.isEmpty())
        return 0;
    // Given back as found: a run started inside another one's wait leaves it held.
    const bool was = gPlugin.X10Sending;
    gPlugin.X10Sending = true;
    for (const QByteArray& f : frames) {
        m_protocol.SendFrame(f);
        m_protocol.WaitReply(gPlugin.ReplyTimeout, 3, 0);
    }
    gPlugin.X10Sending = was;
    return 0;
}
