#include "ReportLoop.h"
#include "link/CommsLog.h"
#include "ControllerStart.h"
#include "HostCommands.h"
#include "IrTransmit.h"
#include "Protocol.h"
#include "VariablePoll.h"
#include "X10Exec.h"
#include "link/CommLink.h"
#include "automation/VbTimer.h"
#include "PluginHooks.h"
#include "PluginHost.h"
#include "PluginSettings.h"
#include "PluginState.h"

#include "automation/VbString.h"
#include "core/Globals.h"
#include "core/Shutdown.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProcess>
#include <QTimer>

namespace {
// TimerRunning for the length of a pass, cleared on every way out.
struct RunningScope
{
    RunningScope() { gPlugin.TimerRunning = true; }
    ~RunningScope() { gPlugin.TimerRunning = false; }
};

bool interactive()
{
    return qobject_cast<QApplication*>(QCoreApplication::instance())
        && QGuiApplication::platformName() != QLatin1String("offscreen")
        && QGuiApplication::platformName() != QLatin1String("minimal");
}
} // namespace

ReportLoop::ReportLoop(const ControllerParts& parts, VariablePoll& poll) : m_parts(parts), m_poll(poll) {}

bool ReportLoop::controllerSilent()
{
    // Any byte read since (a report, a poll's reply) means it answers again.
    if (m_silent && (m_parts.link.readCount() != m_silentReadMark || !gPlugin.PortOpenFlag))
        m_silent = m_silentLogged = false;
    return m_silent;
}

bool ReportLoop::QExec(const QString& housecode, const QString& DeviceCode, int command, long brightness, int data1,
                       int data2)
{
    if (controllerSilent()) {
        if (!m_silentLogged) {
            m_silentLogged = true;
            LogControllerError(kProgramName, "Controller not answering: commands refused until it answers again");
        }
        return false;
    }
    const bool queued = gPlugin.Ring.pushMerging(RingEntry{housecode, DeviceCode, command, brightness, data1, data2});
    Timer3_Timer();
    return queued;
}

void ReportLoop::silenced()
{
    // The commands still waiting would each wait out the same time-out.
    m_silent = true;
    m_silentReadMark = m_parts.link.readCount();
    const int dropped = gPlugin.Ring.count();
    gPlugin.Ring.clear();
    m_silentLogged = true;
    LogControllerError(kProgramName, "Controller not answering: " + QString::number(dropped)
                                         + " waiting command(s) dropped, commands refused until it answers again");
}

void ReportLoop::logError()
{
    // The type of the value last read in this pass: a byte array, or nothing yet.
    const QString type = m_parts.link.readCount() != m_passReadMark ? QStringLiteral("Byte()") : QStringLiteral("Empty");
    PluginHost::logTrapped("Timer3 b=" + type + ", count c=" + QString::number(m_parts.link.BytesWaiting()));
}

void ReportLoop::Timer3_Timer()
{
    if (gPlugin.X10Sending || gPlugin.TransferBusy || gPlugin.TimerRunning)
        return;
    RunningScope running;
    m_passReadMark = m_parts.link.readCount();
    if (!gPlugin.PortOpenFlag) {
        gPlugin.Ring.clear();
        return;
    }
    reports();
    for (;;) {
        drain();
        if (!gPlugin.IOPollDue && !gPlugin.LinkStartPoll)
            break;
        gPlugin.IOPollDue = false;
        gPlugin.LinkStartPoll = false;
        bool polled = false;
        try {
            polled = m_poll.PollIO();
        } catch (...) {
            logError();
        }
        if (!polled)
            break;
        if (!gPlugin.Ring.isEmpty())
            continue; // commands queued during the poll go first; no mirroring this time
        MirrorPoints();
        if (gPlugin.Ring.isEmpty())
            break;
    }
    if (gPlugin.DisconnectRequested)
        toolHandOff();
}

void ReportLoop::reports()
{
    bool more = false;
    try {
        more = m_parts.protocol.ReadReports(kMaxReportsPerPass);
    } catch (...) {
        logError();
    }
    // A controller that sends faster than it can be handled must not hold the
    // event loop: the rest is taken by a pass of its own.
    if (more && !m_nextPassQueued) {
        m_nextPassQueued = true;
        QTimer::singleShot(0, this, [this] {
            m_nextPassQueued = false;
            Timer3_Timer();
        });
    }
}

void ReportLoop::drain()
{
    while (gPlugin.Ring.count() > 0) {
        const RingEntry e = gPlugin.Ring.take();
        const quint64 readMark = m_parts.link.readCount();
        QElapsedTimer took;
        took.start();
        try {
            Execute(e);
            // Not a byte in a whole reply time: the controller has stopped answering.
            const qint64 replyMs = qint64(gPlugin.ReplyTimeout) * 1000;
            if (replyMs > 0 && took.elapsed() >= replyMs && m_parts.link.readCount() == readMark && !gShuttingDown
                && gPlugin.PortOpenFlag && e.command != 103) {
                silenced();
                return;
            }
        } catch (...) {
            logError();
        }
    }
}

void ReportLoop::Execute(const RingEntry& e)
{
    if (e.command < 19) {
        m_parts.x10.ExecX10(e.housecode, e.DeviceCode, e.command, int(e.brightness), e.data1, e.data2);
        // Once a stop has begun nothing more goes out on the line.
        if (!Shutdown::waitsEnding())
            ++gPlugin.X10EntriesSent;
        ++gPlugin.X10EntriesEnded;
        return;
    }
    switch (e.command) {
    case 19:
        m_parts.cmds.SetVar(int(VbString::Val(e.DeviceCode)), e.brightness);
        break;
    case 100: {
        const int zone = gPlugin.HasIRZoneModules ? e.data1 : 0;
        if (zone < 1 || zone == 17) {
            m_parts.ir.PlayIRLocation(e.brightness);
            break;
        }
        int module = 0, port = zone - 1;
        if (zone >= 18) {
            module = (zone - 2) / 16;
            port = (zone - 2) % 16;
        }
        if (module >= gPlugin.IRZoneModuleCount)
            module = 0;
        m_parts.ir.PlayIRZone(gPlugin.IRZoneModules.value(module), port, e.brightness);
        break;
    }
    case 101:
        m_parts.cmds.SetModulePoint(e.data1, e.data2, int(e.brightness));
        break;
    case 102:
        m_parts.ir.PlayIRZone(int(e.brightness), e.data1, e.data2);
        break;
    case 103:
        LearnIRPrompt(e.brightness);
        break;
    default:
        break; // unknown codes are dropped
    }
}

void ReportLoop::MirrorPoints()
{
    for (const umap& m : gPlugin.UnitMaps) {
        if (m.hc.isEmpty() || m.unit < 1 || m.unit > 128)
            continue;
        int first = 0, last = -1;
        QString prefix;
        switch (m.utype) {
        case 11: first = 0; last = 15; break;
        case 12: first = 0; last = 15; prefix = "SIO16I Setting device "; break;
        case 13: first = 0; last = 7; prefix = "RLY8 Setting device "; break;
        default: continue;
        }
        for (int point = first; point <= last; ++point) {
            if (!gPlugin.PointUsed[size_t(m.unit)][size_t(point)])
                continue;
            if (m.utype == 11)
                prefix = point >= 8 ? "SIO16 Setting device " : QString();
            int status = 3, value = 0;
            Protocol::PointStatus(m.utype, point, m.invert, Protocol::GetIOPointState(m.unit, point), status, value);
            const QString code = m.hc + QString::number(point + 1);
            int current = 0, currentValue = 0;
            try {
                current = PluginHost::DeviceStatus(code);
                // A store written under an older value convention has the right status
                // and the wrong value: the value must agree too.
                currentValue = PluginHost::DeviceValue(code);
            } catch (...) {
                PluginHost::clearPending();
                WriteCommsLog("Error calling hs.DeviceStatus, skipping check of IO point");
                continue;
            }
            if (current == status && currentValue == value)
                continue;
            if (!prefix.isEmpty())
                WriteCommsLog(prefix + code + " to " + QString::number(status));
            try {
                PluginHost::SetDeviceStatus(code, status);
                PluginHost::callback("ValueChangeEvent", {Variant(code), Variant(value)});
            } catch (...) {
                logError();
            }
        }
    }
}

void ReportLoop::LearnIRPrompt(long location)
{
    const bool was = gPlugin.TransferBusy;
    gPlugin.TransferBusy = true;
    m_parts.ir.LearnIRStart(location);
    gPlugin.TransferBusy = true;
    if (interactive()) {
        QMessageBox box(QMessageBox::Information, kProgramName,
                        "Point orignal remote at input window on the Quillon and press the key you wish to learn.\n"
                        "Key will be learned in Quillon location: "
                            + QString::number(location) + "\nPress OK to start learning.",
                        QMessageBox::Ok);
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
        Shutdown::WaitScope waiting(Shutdown::Wait::Prompt, [&box] { box.reject(); });
        box.exec();
    }
    m_parts.ir.LearnIREnd();
    if (interactive())
        QApplication::beep();
    gPlugin.TransferBusy = was;
}

void ReportLoop::toolHandOff()
{
    m_parts.Timer2.setEnabled(false);
    m_parts.Timer3.setEnabled(false);
    m_parts.link.CloseCommLink(false);
    gPlugin.PortOpenFlag = false;
    if (gPlugin.ConfigDialogOpen)
        PluginHooksInstance().dialogPortClosed.call();
    if (!gPlugin.ToolRunRequested)
        return;
    runTool();
    gPlugin.ToolRunRequested = false;
    if (gPlugin.ConfigDialogOpen && PluginHooksInstance().dialogDisconnectClick.available()) {
        PluginHooksInstance().dialogDisconnectClick();
    } else {
        gPlugin.DisconnectRequested = false;
        gPlugin.CommsStarted = false;
        // The restart's waits pump events: this pass must not block the next one.
        gPlugin.TimerRunning = false;
        m_parts.start.StartCommunications();
        gPlugin.TimerRunning = true;
    }
    PluginHost::ignoring(
        [] { PluginHost::hs("RunEx", {Variant("Korvane_QPROSync.txt"), Variant("AfterQPRO"), Variant("")}); });
}

void ReportLoop::runTool()
{
    QString path = gPlugin.ToolPath;
    if (path.isEmpty())
        path = PluginSettings::setting("QPROFile", "").remove('"');
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        LogControllerError(kProgramName, "The controller's programming tool is not available: " + path);
        return;
    }
    // The tool runs while the event loop goes on; the link stays closed meanwhile.
    QProcess tool;
    QEventLoop wait;
    QObject::connect(&tool, &QProcess::finished, &wait, &QEventLoop::quit);
    QObject::connect(&tool, &QProcess::errorOccurred, &wait, &QEventLoop::quit);
    tool.setProgram(path);
    tool.start();
    if (tool.waitForStarted(5000)) {
        Shutdown::WaitScope waiting(Shutdown::Wait::ToolRun, wait);
        wait.exec();
    }
    else
        LogControllerError(kProgramName, "The controller's programming tool could not be started: " + path);
}
