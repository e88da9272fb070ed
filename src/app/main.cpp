#include "core/Globals.h"
#include "core/Yonder.h"
#include "core/xapQuillonForm.h"
#include "controller/PluginRegistration.h"
#include "controller/ui/UiRegistration.h"
#include "host/ui/HostUiRegistration.h"
#include "host/HostRegistration.h"
#include "bridge/BridgeRegistration.h"
#include "web/TCPServer.h"
#include "web/WebRegistration.h"
#include "script/Interpreter.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int sSignalPipe[2] = {-1, -1};

void onTerminateSignal(int)
{
    gStopSignalled = 1;
    // A script that loops never returns to the event loop: it ends at its next statement.
    Interpreter::requestStop();
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(sSignalPipe[1], &byte, 1);
}

// A stop request (SIGTERM, SIGINT, a closed terminal's SIGHUP, SIGQUIT) only writes a byte;
// the event loop then runs the tray menu's Exit, so every one of them saves alike.
void installSignalHandlers(QObject* owner)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sSignalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(sSignalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(sSignalPipe[0], &byte, 1);
        if (xapQuillonForm* form = xapQuillonForm::instance())
            form->MenuArray_Click(xapQuillonForm::ExitItem);
        else
            EndProcess(0);
    });
    struct sigaction action = {};
    action.sa_handler = onTerminateSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    ::sigaction(SIGQUIT, &action, nullptr);
}

}  // namespace

int main(int argc, char* argv[])
{
    // Under a file-size limit a write past it must fail like a full disk (old file and backup
    // kept, a log entry), not end the process before anything is saved.
    ::signal(SIGXFSZ, SIG_IGN);
    // Without a display the program runs headless: no tray icon, every prompt answered by default.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setApplicationName(kProgramName);
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption appPath(QStringLiteral("app-path"), QStringLiteral("Program folder (default: the executable's folder)."),
                                     QStringLiteral("DIR"));
    parser.addOption(appPath);
    parser.process(app);

    const QString dir = parser.isSet(appPath) ? parser.value(appPath) : QCoreApplication::applicationDirPath();
    gAppPath = QDir::cleanPath(QFileInfo(dir).absoluteFilePath());

    installSignalHandlers(&app);
    registerHostSubsystem();
    registerHostUi();
    registerControllerSubsystem();
    registerControllerUi();
    registerBridgeSubsystem();
    registerWebSubsystem();
    Main();
    int code = ProcessEnded() ? ProcessExitCode() : app.exec();
    if (ProcessEnded())
        code = ProcessExitCode();
    gYonderObject.reset();
    TCPServer::unload();
    xapQuillonForm::unload();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return code;
}
