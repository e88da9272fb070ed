#include "Protocol.h"
#include "ControllerHost.h"
#include "PluginState.h"
#include "link/CommsLog.h"

namespace {
QString dec(int v) { return QString::number(v); }
}

Protocol::Protocol(CommLink& link, QObject* parent) : SerialProtocol(link, parent)
{
    m_irClock.start();
    m_irLog.setSingleShot(true);
    connect(&m_irLog, &QTimer::timeout, this, &Protocol::logHeldIRCodes);
}

bool Protocol::irCodeMayGo()
{
    const qint64 now = m_irClock.elapsed();
    m_irTokens = qMin<double>(kIRBurst, m_irTokens + double(now - m_irLastMs) * kIRPerSecond / 1000.0);
    m_irLastMs = now;
    if (m_irTokens >= 1.0) {
        m_irTokens -= 1.0;
        return true;
    }
    ++m_irHeld;
    if (!m_irLog.isActive())
        m_irLog.start(gControllerTiming.irFloodLogMs);
    return false;
}

void Protocol::logHeldIRCodes()
{
    if (m_irHeld <= 0)
        return;
    LogControllerError("xaptvkKorvane", "Quillon IR codes received faster than " + dec(kIRPerSecond)
                                            + " a second: " + dec(m_irHeld) + " not sent on xAP");
    m_irHeld = 0;
}

bool Protocol::LearnWaiting() const
{
    return gPlugin.LearnInProgress;
}

Protocol::ReportOutcome Protocol::HandleReport(const QByteArray& r, Context ctx)
{
    const bool inWait = ctx == Context::ReplyWait;
    auto b = [&](int i) { return i < r.size() ? quint8(r[i]) : quint8(0); };
    ControllerHost* host = controllerHost();
    switch (b(0)) {
    case 0xFE:
        WriteCommsLog((inWait ? "**** Quillon says X10 rec (1) " : "*** Quillon says x10 rec ") + dec(b(1)) + "," + dec(b(2)));
        HandleX10Packet(b(0), b(1), b(2));
        break;
    case 0xFB:
        if (gPlugin.X10XmitFlag == 1) {
            WriteCommsLog((inWait ? "**** Quillon says X10 xmit (1) " : "*** Quillon says x10 xmit ") + dec(b(1)) + "," + dec(b(2)));
            HandleX10Packet(b(0), b(1), b(2));
        }
        break;
    case 0xFD:
        if (gPlugin.LearnInProgress)
            return ReportOutcome::LearnMatched;
        if (!gPlugin.IREnabled)
            break;
    {
        // The reply wait takes the location from the report's last byte, the report
        // loop from its middle one.
        const int location = inWait ? b(2) : b(1);
        WriteCommsLog((inWait ? "**** Quillon says IR Match (1) " : "*** Quillon says IR Match ") + dec(location));
        if (host && irCodeMayGo())
            host->IREvent(location);
        break;
    }
    case 0xF0:
        if (inWait)
            WriteCommsLog("**** Quillon says I0 Change (1) " + dec(b(0)) + "," + dec(b(1)) + "," + dec(b(2)));
        HandleIOPointChange(b(1), b(2), b(3));
        return ReportOutcome::EndsAckWait;
    case 0xF2:
    case 0xF3:
        if (gPlugin.KestrelVar != "-1") {
            WriteCommsLog((inWait ? "**** Quillon says Kestrel Touch (1) " : "*** Quillon says Kestrel Touch ") + dec(b(2)));
            if (host)
                host->SetDeviceValue(gPlugin.KestrelVar + "1", b(2));
        }
        return ReportOutcome::EndsAckWait;
    default: // FC and FF carry nothing we use
        break;
    }
    return ReportOutcome::Handled;
}

void Protocol::HandleX10Packet(quint8, quint8 b1, quint8 b2)
{
    if (!gPlugin.X10Started)
        return;
    // Sixteen houses, A to P: a larger house byte is line noise read as a report,
    // and would otherwise name devices of another kind (house Q, R...).
    if (b1 > 15) {
        WriteCommsLog("X10 report with house byte " + dec(b1) + " ignored");
        return;
    }
    const QString house = QString(QChar('A' + b1));
    if (b2 < 16) {
        // Addresses without a function in between: a real sequence names each unit
        // once, so past the bound the list starts over rather than grow.
        if (gPlugin.PendingX10Units.isEmpty() || gPlugin.PendingX10Units.count('+') + 1 >= kMaxPendingX10Units)
            gPlugin.PendingX10Units = house + dec(b2 + 1);
        else
            gPlugin.PendingX10Units += "+" + dec(b2 + 1);
        return;
    }
    ControllerHost* host = controllerHost();
    if (b2 == 26 || b2 == 31) {
        int k = 0;
        while (k < 16 && gPlugin.PresetDimTable[size_t(k)] != b1)
            ++k;
        int level = b2 == 31 ? k + 16 : k;
        int code = b2 == 31 ? 11 : 10;
        QString units = gPlugin.PendingX10Units;
        if (host)
            host->X10Event(units, units.left(1), code, dec(level), "");
        gPlugin.PendingX10Units.clear();
        return;
    }
    int code;
    if (b2 >= 16 && b2 <= 25)
        code = b2 - 16;
    else if (b2 >= 27 && b2 <= 30)
        code = b2 - 15;
    else
        return;
    if (host)
        host->X10Event(gPlugin.PendingX10Units, house, code, "", "");
    gPlugin.PendingX10Units.clear();
}

int Protocol::GetIOPointState(int module, int point)
{
    if (module < 1 || module > 128 || point < 0 || point > 15)
        return 0;
    int byte = 2 * module - 2 + (point >= 8 ? 1 : 0);
    int bit = (gPlugin.IOPointStates[size_t(byte)] >> (point % 8)) & 1;
    return bit == 0 ? 1 : 0; // the block holds inverted levels
}

bool Protocol::IsOutputPoint(int utype, int point)
{
    return (utype == 11 && point >= 8) || utype == 13;
}

void Protocol::PointStatus(int utype, int point, int invert, int state, int& status, int& value)
{
    // Outputs read back as driven (a set bit, state 0, is on); inputs honour the
    // mapping's invert. The I/O poll and the change report share this rule so
    // that outputs do not flap. An output's value is 1 when it is on, as a
    // command that switches it stores it: a script reads one meaning whoever
    // made the change.
    if (IsOutputPoint(utype, point)) {
        value = state == 0 ? 1 : 0;
        status = value == 1 ? 2 : 3;
        return;
    }
    value = invert == 1 ? 1 - state : state;
    status = value == 1 ? 2 : 3;
}

void Protocol::HandleIOPointChange(quint8 module, quint8 point, quint8 value)
{
    WriteCommsLog("IO point change mod= " + dec(module) + " point= " + dec(point) + " newval= " + dec(value));
    bool repeated = false;
    if (point < 16 && module >= 1 && module <= 128) {
        const int byte = 2 * module - 2 + (point >= 8 ? 1 : 0);
        repeated = ((gPlugin.IOPointStates[size_t(byte)] >> (point % 8)) & 1) == (value == 1 ? 1 : 0);
        gPlugin.SetIOPointBit(byte, point % 8, value == 1);
    }
    const umap* m = nullptr;
    for (const umap& u : gPlugin.UnitMaps)
        if (u.unit == module) {
            m = &u;
            break;
        }
    if (!m || m->hc.isEmpty() || point >= 16)
        return;
    // A controller may report the outputs it switches for a command: the
    // write's acknowledgement has announced that change already (or will
    // not, the report being newer). Inputs are the world's news, each told.
    if (repeated && IsOutputPoint(m->utype, point))
        return;
    int status = 3, state = 0;
    PointStatus(m->utype, point, m->invert, GetIOPointState(module, point), status, state);
    const QString code = m->hc + dec(point + 1);
    if (ControllerHost* host = controllerHost()) {
        host->SetDeviceStatus(code, status);
        host->ValueChangeEvent(code, state);
    }
    WriteCommsLog("Set TS device: " + code + " to " + (status == 2 ? "ON" : "OFF"));
}
