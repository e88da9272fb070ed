// The configuration dialog when the program stops: Exit inside OK's wait for the controller
// keeps the store, the file choices are on disk before any Exit, and Cancel ends a wait on a
// port that never answers.
#include "UiTestSupport.h"

#include "controller/ui/FrmConfigDialog.h"
#include "host/ui/UiDisplay.h"
#include "controller/PluginRegistration.h"
#include "core/CoreHooks.h"
#include "core/Globals.h"
#include "core/Yonder.h"
#include "core/xapQuillonForm.h"
#include "host/Application.h"
#include "host/HostGlobals.h"
#include "host/HostRegistration.h"
#include "host/Setup.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

// Takes connections and never answers: a wrong port on a serial-device server.
struct SilentPort
{
    SilentPort()
    {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = server.nextPendingConnection())
                held << s;
        });
    }
    QString port() const { return QString::number(server.serverPort()); }
    QTcpServer server;
    QList<QTcpSocket*> held;
};

QMap<QByteArray, QByteArray> storedDevices(const QByteArray& ini)
{
    QMap<QByteArray, QByteArray> out;
    bool inDevices = false;
    for (QByteArray line : ini.split('\n')) {
        line = line.trimmed();
        if (line.startsWith('[') && line.endsWith(']'))
            inDevices = line.toUpper() == "[PLUGINDEVICES]";
        else if (inDevices && line.contains('='))
            out.insert(line.left(line.indexOf('=')), line.mid(line.indexOf('=') + 1));
    }
    return out;
}

class StopInDialog : public DialogFixture
{
protected:
    void TearDown() override
    {
        DialogFixture::TearDown();
        gYonderObject.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Hooks() = CoreHooks();
        // An Exit the test ran ended the process: the next test starts a run of its own.
        ResetProcessEnd();
    }
    // The link settings on the simulator, a device, and the store written with it.
    void startWithStore()
    {
        startPlugin();
        ASSERT_FALSE(HasFatalFailure());
        gPluginInstance = plugin;
        gSerialIPAddress = "127.0.0.1";
        gUseSerialComm = true;
        gCommPort = QString::number(tcp->port());
        writeConfig("tvkXapKorvane.ini",
                    "[tspi_quillon]\r\nSerialIP=127.0.0.1\r\nCommPort=" + QByteArray::number(tcp->port()) + "\r\n");
        addDevice("Q5", 3, "");
        addDevice("[1", 0, "1!11!0!0");
        gHostForm->SaveDevices();
        hs->FlushIniCache();
    }
    // OK moving the link to a port that never answers; `during` runs once OK waits.
    qint64 okOnSilentPort(FrmConfig& model, const std::function<void()>& during)
    {
        model.aCommPort = silent.port();
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (FrmConfig::instance() == &model && model.busy())
                during();
        });
        timer.start(300);
        QElapsedTimer t;
        t.start();
        model.OKButton_Click();
        return t.elapsed();
    }

    SilentPort silent;
};

}  // namespace

// Exit asked for (a stop signal) while OK waits for the controller: OK returns without saving
// over the store, and Exit, run once OK has returned, unloads the dialog and then saves the
// store it had, whole.
TEST_F(StopInDialog, ExitDuringOksWaitForTheControllerKeepsTheStore)
{
    startWithStore();
    ASSERT_FALSE(HasFatalFailure());
    const QMap<QByteArray, QByteArray> before = storedDevices(readConfig("tvkXapKorvane.ini"));
    ASSERT_EQ(before.size(), 2) << readConfig("tvkXapKorvane.ini").constData();

    // The tray form as the program makes it, with the host and the plug-in already there.
    registerHostSubsystem();
    registerControllerSubsystem();
    registerControllerUi();
    Hooks().loadHostForm = [] {};
    Hooks().restartPlugin = [] {};
    gYonderObject = std::make_shared<Yonder>();
    ASSERT_NE(xapQuillonForm::instance(), nullptr);

    FrmConfig& model = FrmConfig::Load();
    bool exitAsked = false;
    const qint64 waited = okOnSilentPort(model, [&] {
        exitAsked = true;
        xapQuillonForm::instance()->MenuArray_Click(xapQuillonForm::ExitItem);
    });
    ASSERT_TRUE(exitAsked) << "OK never waited for the controller";
    EXPECT_LT(waited, 5000) << "OK's wait did not end when Exit was asked for";
    EXPECT_TRUE(waitFor([] { return ProcessEnded(); }, 10000)) << "Exit never ran";
    EXPECT_EQ(FrmConfig::instance(), nullptr) << "Exit unloads the dialog";
    const QMap<QByteArray, QByteArray> after = storedDevices(readConfig("tvkXapKorvane.ini"));
    EXPECT_EQ(after.keys(), before.keys()) << readConfig("tvkXapKorvane.ini").constData();
    EXPECT_FALSE(logged("not written")) << "a handler wrote after Exit began";
}

// What the dialog takes at once is on disk when the process is killed before Exit: the three
// file choices and Synchronize's include options.
TEST_F(StopInDialog, FileChoicesAndIncludeOptionsAreOnDiskAtOnce)
{
    startWithStore();
    ASSERT_FALSE(HasFatalFailure());
    FrmConfig& model = FrmConfig::Load();
    ScriptedPrompts prompts;
    model.setPrompts(&prompts);
    const QString project = appDir.filePath("house.prj");
    QFile(project).open(QIODevice::WriteOnly);

    struct Case {
        const char* key;
        std::function<void()> choose;
        QString expected;
    };
    const Case cases[] = {
        {"ProjectFile", [&] { model.BrowseProjectFile(); }, project},
        {"QPROFile", [&] { model.BrowseQPROexe(); }, appDir.filePath("cpuqx.exe")},
        {"IRPROFile", [&] { model.BrowseIRProExe(); }, appDir.filePath("IR_MAX.exe")},
        // Synchronize stores the include options first; a missing project file and a
        // cancelled file dialog end it there.
        {"IncludeX10",
         [&] {
             model.aIncludeX10 = 1;
             model.aProjectFile = appDir.filePath("missing.prj");
             prompts.file.clear();
             model.aSynchronize_Click();
         },
         "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        prompts.file = c.expected;
        c.choose();
        EXPECT_EQ(section("xaptvkKorvane.ini").value(QString(c.key).toLower()), c.expected) << "not on disk";
    }
    model.setPrompts(nullptr);
}
