#include "IrTransmit.h"
#include "link/CommsLog.h"
#include "ControllerHost.h"
#include "link/Frames.h"
#include "IRFiles.h"
#include "PluginState.h"
#include "Protocol.h"

#include "automation/Latin1Case.h"

namespace {
const QString kType = "xaptvkKorvane";


bool isNumeric(const QString& s)
{
    bool ok = false;
    s.trimmed().toDouble(&ok);
    return ok;
}
} // namespace

IrTransmit::IrTransmit(Protocol& protocol, QObject* parent) : QObject(parent), m_protocol(protocol) {}

bool IrTransmit::keyOk(long loc, const char* who)
{
    if (loc >= 0 && loc <= 1023)
        return true;
    LogControllerError(kType, QString("%1 key %2 out of range").arg(who).arg(loc));
    return false;
}

bool IrTransmit::PlayIR(long loc)
{
    if (!keyOk(loc, "PlayIR"))
        return false;
    return QExec && QExec("", "", 100, gPlugin.IRKeyLocations[size_t(loc)], gPlugin.CurrentZone, 0);
}

bool IrTransmit::PlayRemoteIR(int addr, int zone, long loc)
{
    if (!keyOk(loc, "PlayRemoteIR"))
        return false;
    return QExec && QExec("", "", 102, addr, zone, gPlugin.IRKeyLocations[size_t(loc)]);
}

int IrTransmit::PlayIREx(const QString& loc)
{
    if (loc.contains(' ')) {
        auto it = gPlugin.IRNameDictionary.constFind(Latin1Case::upper(loc));
        if (it == gPlugin.IRNameDictionary.constEnd())
            return 0;
        const QStringList f = it.value().split(',');
        if (f.size() != 2 || !isNumeric(f[0]) || !isNumeric(f[1]))
            return 0; // nothing played
        const long key = long(f[0].trimmed().toDouble());
        const int zone = IRFiles::ZoneNumber(f[1]);
        if (zone != 0 && gPlugin.HasIRZoneModules && gPlugin.IRZoneModuleCount > 0) {
            int index = int((zone - 1) / 16);
            if (index < 0 || index >= gPlugin.IRZoneModuleCount)
                index = 0;
            return PlayRemoteIR(gPlugin.IRZoneModules.value(index), zone, key) ? 1 : 0;
        }
        return PlayIR(key) ? 1 : 0;
    }
    if (!isNumeric(loc))
        return 0;
    return PlayIR(long(loc.trimmed().toDouble())) ? 1 : 0;
}

void IrTransmit::PlayIRLocation(long location)
{
    {
        TransferBusyScope busy;
        if (gPlugin.CommsStarted && location >= 0 && location <= 65535) {
            m_protocol.SendFrame(Frames::Command(0x5A, quint8(location % 256), quint8(location / 256)));
            m_protocol.WaitReply(gPlugin.ReplyTimeout, 3, 0);
        }
    }
    if (ControllerHost* h = controllerHost())
        h->xAPIR(location, 0, "IR.Info");
}

void IrTransmit::PlayIRZone(int address, int port, long location)
{
    {
        TransferBusyScope busy;
        if (gPlugin.CommsStarted && location >= 0 && location <= 65535 && address >= 0 && address <= 255
            && port >= 0 && port <= 255) {
            m_protocol.SendFrame(Frames::Command(0x5C, quint8(address), quint8(port), quint8(location % 256),
                                                 quint8(location / 256)));
            m_protocol.WaitReply(gPlugin.ReplyTimeout, 3, 0);
        }
    }
    if (ControllerHost* h = controllerHost())
        h->xAPIR(location, port + 1, "IR.Info");
}

bool IrTransmit::LearnIRStart(long loc)
{
    if (!keyOk(loc, "LearnIRStart"))
        return false;
    if (!gPlugin.CommsStarted)
        return true;
    // Held busy so the report loop cannot take the controller's answer.
    TransferBusyScope busy;
    const int location = gPlugin.IRKeyLocations[size_t(loc)];
    m_protocol.SendFrame(Frames::Command(0x5B, quint8(location % 256), quint8(location / 256), 0x78));
    m_protocol.WaitReply(gPlugin.ReplyTimeout, 3, 0);
    return true;
}

void IrTransmit::LearnIREnd()
{
    if (!gPlugin.CommsStarted)
        return;
    // Busy as well: the learned code's match report must end this wait, not reach the report loop.
    TransferBusyScope busy;
    gPlugin.LearnInProgress = true;
    m_protocol.WaitReply(15, 3, 0);
    gPlugin.LearnInProgress = false;
}
