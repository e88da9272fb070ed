#include "Protocol.h"
#include "CommLink.h"
#include "CommsLog.h"
#include "ControllerHost.h"
#include "Frames.h"
#include "PluginState.h"
#include "core/Globals.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace {
QString dec(int v) { return QString::number(v); }
}

Protocol::Protocol(CommLink& link, QObject* parent) : QObject(parent), m_link(link) {}

void Protocol::Delay(int ms)
{
    // Once the program is exiting no exchange with the controller is worth waiting for.
    if (ms <= 0 || gShuttingDown)
        return;
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

int Protocol::sleepForData(int ms)
{
    QElapsedTimer t;
    t.start();
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    auto c = connect(&m_link, &CommLink::dataArrived, &loop, &QEventLoop::quit);
    limit.start(ms);
    loop.exec();
    disconnect(c);
    return int(t.elapsed());
}

int Protocol::SendFrame(const QByteArray& frame)
{
    if (gPlugin.CommsStarted)
        m_link.WriteBytes(frame);
    return 0;
}

QByteArray Protocol::take(int n)
{
    QByteArray out;
    for (int i = 0; i < n; ++i)
        out.append(char(m_link.ReadByte()));
    return out;
}

bool Protocol::WaitReply(int timeoutSeconds, int length, int firstByte)
{
    const int limitMs = timeoutSeconds * 1000;
    int elapsed = 0;
    int count = 0;
    for (;;) {
        QCoreApplication::processEvents();
        if (gShuttingDown)
            break;
        count = m_link.BytesWaiting();
        bool ready = count >= length && count > 0;
        int b0 = ready ? m_link.PeekByte() : -1;
        int reportLen = b0 >= 0 ? Frames::ReportLength(quint8(b0)) : 0;
        if (ready && reportLen > 0 && count < reportLen)
            ready = false; // a report's continuation has not all arrived
        if (!ready) {
            elapsed += sleepForData(200);
            if (elapsed >= limitMs)
                break;
            continue;
        }
        if (reportLen > 0) {
            ReportOutcome r = HandleReport(take(reportLen), Context::ReplyWait);
            if (r == ReportOutcome::LearnMatched)
                return true;
            if (r == ReportOutcome::EndsAckWait && length == 3)
                return true;
            continue;
        }
        if (firstByte > 0 && b0 != firstByte) {
            m_link.ReadByte();
            continue;
        }
        for (int i = 0; i < length && i < int(gPlugin.ReplyBuffer.size()); ++i)
            gPlugin.ReplyBuffer[size_t(i)] = quint8(m_link.ReadByte());
        return true;
    }
    WriteCommsLog("Quillon Timeout Expected: " + dec(length) + " Got: " + dec(count));
    return false;
}

void Protocol::ReadReports()
{
    for (;;) {
        int count = m_link.BytesWaiting();
        if (count <= 0)
            return;
        int b0 = m_link.PeekByte();
        if (b0 < 0)
            return;
        int len = Frames::ReportLength(quint8(b0));
        if (len == 0) {
            // Not a report (a late acknowledgement, say): its three bytes go
            // together, so none of them is mistaken for the start of a report.
            if (count < 3)
                return;
            take(3);
            continue;
        }
        if (count < len)
            return;
        HandleReport(take(len), Context::ReportLoop);
    }
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
        WriteCommsLog((inWait ? "**** Quillon says IR Match (1) " : "*** Quillon says IR Match ") + dec(b(2)));
        if (host)
            host->IREvent(b(2));
        break;
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
    const QString house = QString(QChar('A' + b1));
    if (b2 < 16) {
        if (gPlugin.PendingX10Units.isEmpty())
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
    // that outputs do not flap.
    if (IsOutputPoint(utype, point)) {
        value = state;
        status = state == 0 ? 2 : 3;
        return;
    }
    value = invert == 1 ? 1 - state : state;
    status = value == 1 ? 2 : 3;
}

void Protocol::HandleIOPointChange(quint8 module, quint8 point, quint8 value)
{
    WriteCommsLog("IO point change mod= " + dec(module) + " point= " + dec(point) + " newval= " + dec(value));
    if (point < 16 && module >= 1 && module <= 128) {
        int byte = 2 * module - 2 + (point >= 8 ? 1 : 0);
        quint8 bit = quint8(1u << (point % 8));
        quint8& v = gPlugin.IOPointStates[size_t(byte)];
        v = value == 1 ? quint8(v | bit) : quint8(v & ~bit);
    }
    const umap* m = nullptr;
    for (const umap& u : gPlugin.UnitMaps)
        if (u.unit == module) {
            m = &u;
            break;
        }
    if (!m || m->hc.isEmpty() || point >= 16)
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
