#include "core/xapQuillonForm.h"

#include "core/DrainSlices.h"

#include "core/CoreHooks.h"
#include "core/Globals.h"
#include "core/StartupStop.h"
#include "core/Logging.h"
#include "core/RefusalLog.h"
#include "core/Shutdown.h"
#include "core/TrayIcon.h"
#include "core/Yonder.h"
#include "core/xap/XapEndpoint.h"

#include "automation/AnsiCodePage.h"
#include "automation/PendingError.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QMenu>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <utility>

namespace {

constexpr int kWatchdogMs = 60000;
xapQuillonForm* sForm = nullptr;

// Runs one step of Exit; every step is attempted whatever the others do.
template <typename F>
void ignoringErrors(F&& step)
{
    try {
        step();
    } catch (...) {
    }
    PendingError::clear();
}

}  // namespace

xapQuillonForm* xapQuillonForm::load()
{
    if (!sForm) {
        sForm = new xapQuillonForm();
        sForm->form_load();
    }
    return sForm;
}

xapQuillonForm* xapQuillonForm::instance()
{
    return sForm;
}

void xapQuillonForm::unload()
{
    if (!sForm)
        return;
    xapQuillonForm* form = sForm;
    sForm = nullptr;
    if (QCoreApplication::instance())
        form->deleteLater();
    else
        delete form;
}

xapQuillonForm::xapQuillonForm()
{
    WinsockClient = new QTcpSocket(this);
    m_tray = new TrayIcon(this);
    Timer1.setParent(this);
    Timer1.setObjectName(QStringLiteral("Timer1"));
    connect(&Timer1, &VbTimer::timer, this, &xapQuillonForm::Timer1_Timer);
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        buildMenu();
}

xapQuillonForm::~xapQuillonForm()
{
    if (sForm == this)
        sForm = nullptr;
}

void xapQuillonForm::buildMenu()
{
    m_menu = std::make_unique<QMenu>();
    m_menu->setTitle(QStringLiteral("tvkKorvane"));
    const QStringList captions = {QStringLiteral("Browser"), QStringLiteral("GUI Setup"), QStringLiteral("System Config"),
                                  QStringLiteral("System Status"), QStringLiteral("Help"), QStringLiteral("-"),
                                  QStringLiteral("Exit")};
    for (int i = 0; i < captions.size(); ++i) {
        if (captions.at(i) == QLatin1StringView("-")) {
            m_menu->addSeparator();
            continue;
        }
        QAction* action = m_menu->addAction(captions.at(i));
        connect(action, &QAction::triggered, this, [this, i] { MenuArray_Click(i); });
    }
}

void xapQuillonForm::form_load()
{
    if (gMainFormReady)
        return;
    m_loading = true;
    runStartup();
    m_loading = false;
    // Run from the event loop, after whatever called the load has finished too: nothing of
    // the start-up may run or send after Exit.
    if (m_exitPending)
        QTimer::singleShot(0, this, [this] { Exit(); });
}

void xapQuillonForm::runStartup()
{
    try {
        gHostStarted = true;
        gXapReady = false;
        m_drainBusy = false;

        InitXap();

        m_xap = new xap(this);
        gXap = m_xap;
        m_xap->RegisterNewMessageCallback([this] { onMessage(); });
        m_xap->setXapSource(QStringLiteral("tvk.Korvane.") + gComputerName);
        m_xap->setXapUID(QStringLiteral("FF.00C7:00"));
        m_xap->setBroadcastAddress(gXapBroadcastSetting);
        m_xap->setInterfaceAddress(gXapInterfaceSetting);
        const int port = m_xap->Init();
        if (port <= 0) {
            WriteLogFile(kProgramName, QStringLiteral("xAP Init Error ") + QString::number(port) + QStringLiteral(" occurred"));
            EndProcess(1);
            return;
        }

        // Started before the network is up, the first heartbeat has no route yet: the rest
        // of the program starts all the same and the heartbeat timer tries again.
        try {
            m_xap->SendHeartbeat(60);
        } catch (...) {
            PendingError::capture();
            WriteLogFile(kProgramName, QStringLiteral("SendHeartbeat"));
        }
        gXapReady = true;
        LogError(kProgramName, QStringLiteral("Using xAP port ") + QString::number(port));

        CoreHooks& hooks = Hooks();
        // After a stop the rest is left out; Exit copes with a start-up that ended part-way.
        hooks.loadHostForm.call();
        if (StartupStopping())
            return;
        hooks.initReceiveMessages.call();
        if (StartupStopping())
            return;
        RestartPlugin();
        if (StartupStopping())
            return;
        hooks.addTags.call();

        Timer1.setInterval(kWatchdogMs);
        Timer1.setEnabled(true);
        gMainFormReady = true;
    } catch (...) {
        PendingError::capture();
        WriteLogFile(kProgramName, QStringLiteral("Main Load"));
    }
}

void xapQuillonForm::RestartPlugin()
{
    try {
        Hooks().restartPlugin.call();
    } catch (...) {
        PendingError::capture();
        WriteLogFile(kProgramName, QStringLiteral("RestartPlugin"));
    }
}

void xapQuillonForm::Timer1_Timer()
{
    // During Exit the plug-in is going away on purpose: recreating it would start a new,
    // never-stopped plug-in in the middle of the shutdown.
    if (gShuttingDown)
        return;
    bool failed = false;
    try {
        failed = Hooks().pluginNameFails.call();
    } catch (...) {
        failed = true;
    }
    PendingError::clear();
    if (!failed)
        return;
    RestartPlugin();
    LogError(kProgramName, QStringLiteral("Restarted ") + kProgramName);
}

void xapQuillonForm::onMessage()
{
    if (!m_xap)
        return;
    if (gShuttingDown) {
        // Texts received before Exit must not drive the controller while its link closes.
        storeReceivedRecords();
        return;
    }
    if (m_drainBusy)
        return;
    m_drainBusy = true;
    try {
        // The dispatcher may pump events; texts arriving meanwhile are taken by this loop,
        // until Exit begins. After a slice the rest waits for the next turn of the event
        // loop, so that a backlog of costly texts leaves the echo and the page answered.
        QElapsedTimer slice;
        slice.start();
        while (m_xap && m_xap->queuedCount() > 0 && !gShuttingDown) {
            if (slice.elapsed() >= DrainSlices::kReceivedTextsMs) {
                QTimer::singleShot(0, this, [self = QPointer<xapQuillonForm>(this)] {
                    if (self)
                        self->onMessage();
                });
                break;
            }
            const QString text = m_xap->GetMessage();
            if (!text.isEmpty())
                Hooks().readMessage.call(text);
        }
    } catch (...) {
        PendingError::capture();
        WriteLogFile(kProgramName, QStringLiteral("Main OnMessage"));
    }
    m_drainBusy = false;
}

void xapQuillonForm::storeReceivedRecords()
{
    // What came in before the store is saved at a stop (also while a script held the event
    // loop) is in it; the controller and the scripts no longer act on it.
    ignoringErrors([this] {
        if (!m_xap)
            return;
        for (const QByteArray& text : m_xap->takeReceived())
            ignoringErrors([&] { Hooks().storeRecord.call(AnsiCodePage::decode(text)); });
    });
}

void xapQuillonForm::TrayIconCallback(long message)
{
    if ((message == TrayIcon::kLeftButtonUp || message == TrayIcon::kRightButtonUp) && m_menu)
        m_menu->popup(QCursor::pos() - QPoint(m_menu->sizeHint().width(), 0));
}

void xapQuillonForm::openBrowser(const QString& page)
{
    const QString port = Hooks().httpPort.call();
    QDesktopServices::openUrl(QUrl(QStringLiteral("http://localhost:") + (port.isEmpty() ? QStringLiteral("8010") : port)
                                   + QLatin1Char('/') + page));
}

void xapQuillonForm::MenuArray_Click(int index)
{
    switch (index) {
    case Browser:
        openBrowser(QStringLiteral("status"));
        break;
    case Help:
        openBrowser(QStringLiteral("help"));
        break;
    case GuiSetup:
        if (gYonderObject) {
            QString setup = QStringLiteral("Setup");
            gYonderObject->Menu(setup);
        }
        break;
    case ExitItem:
        Exit();
        break;
    default:
        break;
    }
}

void xapQuillonForm::Exit()
{
    // A second stop while Exit runs (its own steps wait too) changes nothing.
    if (m_exitRunning)
        return;
    if (m_loading || Shutdown::waiting()) {
        // Inside a wait, the handler that waits still uses what Exit would release: the flag
        // ends its wait and every other one, and Exit runs once the handler has returned.
        gShuttingDown = true;
        m_exitPending = true;
        Hooks().stopScripts.call();
        Shutdown::endWaits();
        if (!m_loading && !std::exchange(m_exitScheduled, true)) {
            QPointer<xapQuillonForm> self(this);
            Shutdown::whenNoWait([self] {
                if (!self)
                    return;
                self->m_exitScheduled = false;
                self->Exit();
            });
        }
        return;
    }
    const bool deferred = std::exchange(m_exitPending, false);
    if (gShuttingDown && !deferred)
        return;
    m_exitRunning = true;
    Shutdown::ExitSaves saves;
    // The watchdog goes first: the plug-in's shutdown pumps events for a while, and a tick
    // then must not find the plug-in gone and recreate it.
    ignoringErrors([this] { Timer1.setEnabled(false); });
    ignoringErrors([] { gShuttingDown = true; });
    ignoringErrors([] { Hooks().stopScripts.call(); });
    ignoringErrors([] { Hooks().recordsForStop.call(); });
    storeReceivedRecords();
    ignoringErrors([] {
        Hooks().shutdownIO.call();
    });
    storeReceivedRecords();
    ignoringErrors([] { Hooks().saveReceivedRecords.call(); });
    // Repeats counted since their first entry would otherwise go unlogged.
    ignoringErrors([] { RefusalLog::Flush(); });
    ignoringErrors([this] { m_tray->Update(false); });
    // The dialog works on the host's objects: it goes before them, as the plug-in selection does.
    ignoringErrors([] { Hooks().unloadConfigDialog.call(); });
    ignoringErrors([] {
        Hooks().unloadHostForm.call();
    });
    // Releasing the Yonder unloads this form and ends the process.
    ignoringErrors([] { gYonderObject.reset(); });
    EndProcess(0);
}
