#include "VariablePoll.h"
#include "core/Shutdown.h"
#include "link/CommsLog.h"
#include "ControllerStart.h"
#include "HostCommands.h"
#include "Protocol.h"
#include "link/Frames.h"
#include "PluginHost.h"
#include "PluginState.h"
#include "UnitMappings.h"
#include "WriteMirror.h"

#include "core/Globals.h"

#include "automation/Latin1Case.h"
#include "automation/VbString.h"
#include "automation/VbTimer.h"

#include <QTime>

namespace {
QString hex2(int v)
{
    return Latin1Case::upper(QString::number(v, 16)).rightJustified(2, '0');
}
constexpr int kDefaultPollMs = 500;
} // namespace

VariablePoll::VariablePoll(const ControllerParts& parts) : m_parts(parts)
{
    currentHour = [] { return QTime::currentTime().hour(); };
}

QByteArray VariablePoll::VarsRequest()
{
    return Frames::BlockRequest(quint8(gPlugin.VarBlockHigh), quint8(gPlugin.VarBlockLow));
}

VariablePoll::Read VariablePoll::blockRead(const QByteArray& request, const Texts& t)
{
    bool got = false;
    for (int attempt = 0; attempt < 2 && !got; ++attempt) {
        TransferBusyScope busy;
        m_parts.cmds.xasend(request);
        WriteCommsLog(t.waiting);
        got = m_parts.protocol.WaitReply(gPlugin.ReplyTimeout, 264, 0x2A);
    }
    if (!got) {
        if (Shutdown::waitsEnding())
            return Read::Timeout; // ended by a stop: no time-out of the controller's
        ++gPlugin.TimeoutCount;
        if (gPlugin.LogErrors != 0 && gPlugin.TimeoutCount > 1) {
            // A controller that stays silent is one outage, however many polls it misses.
            m_parts.protocol.link().outage().report("Warning", t.timeout);
            gPlugin.TimeoutCount = 0;
        }
        gPlugin.InterfaceStatusWord = 1;
        return Read::Timeout;
    }
    const auto& r = gPlugin.ReplyBuffer;
    if (gPlugin.LogComms == 1) {
        QString dump;
        if (t.io)
            for (int i = 0; i < 262; ++i)
                dump += QString::number(r[size_t(i)]) + " ";
        else
            for (int i = 0; i < 134; ++i)
                dump += hex2(r[size_t(i)]) + " ";
        WriteCommsLog(dump);
    }
    const QByteArray bytes(reinterpret_cast<const char*>(r.data()), 264);
    const quint16 computed = Frames::CRC16(bytes, 262);
    const quint16 received = quint16(r[262] | (r[263] << 8));
    if (!Frames::ReplyCrcOk(r.data())) {
        ++gPlugin.CheckErrorCount;
        if (gPlugin.LogErrors != 0 && gPlugin.CheckErrorCount > 1) {
            LogControllerError("Warning", t.io ? t.check + QString::number(computed) + " " + QString::number(received)
                                               : t.check);
            gPlugin.CheckErrorCount = 0;
        }
        if (!t.io)
            gPlugin.TimeoutCount = 0;
        return Read::CheckError;
    }
    gPlugin.CheckErrorCount = 0;
    gPlugin.TimeoutCount = 0;
    if (r[3] != quint8(request[3]) || r[4] != quint8(request[4])) {
        WriteCommsLog(t.wrongBuffer);
        return Read::WrongBuffer;
    }
    return Read::Good;
}

bool VariablePoll::PollIO()
{
    if (!gPlugin.IOEnabled || gPlugin.TransferBusy)
        return false;
    const quint64 setsBefore = gPlugin.IOPointSets;
    const Read r = blockRead(Frames::BlockRequest(0x8D, 0xB5),
                             {"Waiting for IO info from Quillon", "Quillon Plug-in, Timeout getting realtime I/O",
                              "Quillon Plug-in, Checksum error reading io points: ",
                              "Warning, Quillon returned wrong buffer for IO buffer request, ignoring data", true});
    if (r == Read::Timeout || r == Read::CheckError)
        return false;
    if (r == Read::Good)
        for (int i = 0; i < 256; ++i) {
            // A point reported (or written) while the block was on its way
            // (a script's command inside this wait reads the reports behind
            // the block) keeps that newer state.
            quint8 keep = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (gPlugin.IOPointSetAt[size_t(i * 8 + bit)] > setsBefore)
                    keep |= quint8(1u << bit);
            const quint8 block = gPlugin.ReplyBuffer[size_t(6 + i)];
            gPlugin.IOPointStates[size_t(i)] = quint8((block & ~keep) | (gPlugin.IOPointStates[size_t(i)] & keep));
        }
    gPlugin.InterfaceStatusWord = 0;
    return true;
}

bool VariablePoll::PollVars()
{
    // Until the controller has told where its variables are, any block read
    // would bring back something else as their values.
    if (gPlugin.TransferBusy || !gPlugin.VarBlockKnown)
        return false;
    const Read r = blockRead(VarsRequest(),
                             {"Waiting for var info from Quillon", "Quillon Plug-in, Timeout getting Vars",
                              "Quillon Plug-in, Checksum error reading vars",
                              "Warning, Quillon returned wrong buffer for variable buffer request, ignoring data", false});
    if (r == Read::Timeout || r == Read::CheckError)
        return false;
    // Another block's reply keeps the values last read; before any was read
    // there are none, and the host's values must not be compared with zeros.
    if (r == Read::WrongBuffer && !m_varsRead)
        return false;
    if (r == Read::Good) {
        for (int i = 0; i < 128; ++i)
            gPlugin.ControllerVars[size_t(i)] =
                long(gPlugin.ReplyBuffer[size_t(7 + 2 * i)]) * 256 + gPlugin.ReplyBuffer[size_t(6 + 2 * i)];
        m_varsRead = true;
    }
    return true;
}

void VariablePoll::Timer2_Timer()
{
    if (gPlugin.X10Sending || gPlugin.TransferBusy || gPlugin.TimerRunning || !gPlugin.Ring.isEmpty())
        return;
    gPlugin.TimerRunning = true;
    if (gPlugin.PageRefreshFlag == 1)
        gPlugin.PageRefreshFlag = 0;
    if (!gPlugin.DiscoveryComplete)
        PluginHost::ignoring([&] { m_parts.start.ProbeController(); });
    bool polled = false;
    const quint64 writesBefore = gPlugin.VarWrites;
    PluginHost::ignoring([&] { polled = PollVars(); });
    bool complete = true;
    if (polled && gPlugin.VarsHouseCode != 0) {
        for (int n = 0; n < 128; ++n) {
            // A value written while the block was on its way may be newer than what the
            // block holds: that variable waits for the next pass, the others are compared.
            if (gPlugin.VarUsed[size_t(n)] && gPlugin.VarWrittenAt[size_t(n)] <= writesBefore) {
                const QString code = UnitMappings::variableCode(n);
                long& cached = gPlugin.HostVarValues[size_t(n + 1)];
                bool readable = true;
                if (!gPlugin.VarCacheFilled) {
                    try {
                        cached = PluginHost::DeviceValue(code);
                    } catch (...) {
                        PluginHost::clearPending();
                        readable = false;
                        WriteCommsLog("Error attempting to call hs.DeviceValue, skipping this var");
                    }
                }
                const long now = gPlugin.ControllerVars[size_t(n)];
                if (readable && cached != now) {
                    WriteCommsLog("Setting Var: " + code + " to " + QString::number(now));
                    cached = now;
                    WriteMirror::announceVariable(code, now, false);
                    // Queued commands go first; the rest waits for the next pass. Only after a
                    // change was announced: a steady stream of commands must not keep the walk
                    // from ever reaching the variables further on.
                    if (!gPlugin.Ring.isEmpty()) {
                        complete = false;
                        break;
                    }
                }
            }
        }
        if (complete)
            gPlugin.VarCacheFilled = true;
    }
    if (complete)
        gPlugin.IOPollDue = true;
    if (m_parts.Timer2.interval() != pollIntervalMs())
        EnablePollTimer(true);
    gPlugin.TimerRunning = false;
    // The clock is set once in the hour from 01:00 and again the next day.
    const int hour = currentHour();
    if (hour != 1) {
        ClockSynced = 0;
    } else if (ClockSynced != 1) {
        ClockSynced = 1;
        PluginHost::ignoring([&] { m_parts.start.SyncClock(); });
    }
    if (gPlugin.PageRefreshFlag == 0)
        gPlugin.PageRefreshFlag = -1;
}

int VariablePoll::StartGetAnalog(int, int point)
{
    if (!gPlugin.IOEnabled)
        return 0;
    TransferBusyScope busy;
    m_parts.cmds.xasend(Frames::Command(0x1F, quint8(qBound(0, point + 10, 255))));
    m_parts.protocol.WaitReply(gPlugin.ReplyTimeout, 3, 0);
    return 0;
}

int VariablePoll::analogValue(int unit)
{
    m_parts.cmds.xasend(Frames::BlockRequest(0x8B, 0xB4));
    if (!m_parts.protocol.WaitReply(gPlugin.ReplyTimeout, 264, 0x2A)) {
        if (gPlugin.LogErrors != 0 && !Shutdown::waitsEnding())
            LogControllerError("Warning", "Quillon Plug-in, Timeout getting analog I/O");
        gPlugin.InterfaceStatusWord = 1;
        return 0;
    }
    gPlugin.InterfaceStatusWord = 0;
    // An analog reading is one byte: the first byte of the unit's slot in the block.
    return gPlugin.ReplyBuffer[size_t(6 + (unit - 1) * 2)];
}

int VariablePoll::GetAnalogInputValue(int unit, int)
{
    if (!gPlugin.IOEnabled)
        return 0;
    if (unit < 1 || unit > 128) {
        LogControllerError(kProgramName, "GetAnalogInputValue unit " + QString::number(unit) + " out of range");
        return 0;
    }
    TransferBusyScope busy;
    return analogValue(unit);
}

int VariablePoll::GetAnalogInput(int unit, int point)
{
    if (!gPlugin.IOEnabled)
        return 0;
    if (unit < 1 || unit > 128) {
        LogControllerError(kProgramName, "GetAnalogInput unit " + QString::number(unit) + " out of range");
        return 0;
    }
    TransferBusyScope busy;
    m_parts.cmds.xasend(Frames::Command(0x1F, quint8(qBound(0, point + 10, 255))));
    m_parts.protocol.WaitReply(gPlugin.ReplyTimeout, 3, 0);
    m_parts.protocol.Settle(1000);
    return analogValue(unit);
}

int VariablePoll::GetPoint(int unit, int point, bool digital)
{
    if (!digital)
        return GetAnalogInput(unit, point);
    return Protocol::GetIOPointState(unit, point);
}

int VariablePoll::pollIntervalMs()
{
    // 0 (or anything below 1 ms) is a timer that never ticks: no polling.
    const double ms = VbString::Val(gPlugin.PollInterval);
    if (ms < 1)
        return 0;
    return ms <= 86400000 ? int(ms) : kDefaultPollMs;
}

void VariablePoll::EnablePollTimer(bool enable)
{
    m_parts.Timer2.setEnabled(false);
    if (!enable)
        return;
    m_parts.Timer2.setInterval(pollIntervalMs());
    m_parts.Timer2.setEnabled(true); // an interval of 0 never ticks
}
