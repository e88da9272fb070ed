// The dialogs' widgets while a handler waits for the controller, Escape, and
// how the dialog fits a 1280x800 screen with a named controller.
#include "UiTestSupport.h"
#include "SimTcpTransport.h"

#include "controller/ui/FrmConfigDialog.h"
#include "host/ui/UiDisplay.h"
#include "host/ui/frmSetupDialog.h"
#include "controller/UnitMappings.h"
#include "core/CoreHooks.h"
#include "host/Application.h"
#include "host/HostHooks.h"
#include "host/HostRegistration.h"
#include "host/HostGlobals.h"
#include "host/Setup.h"
#include "host/frmSetup.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {
// Answers each message box with `button`.
struct BoxAnswerer : QObject
{
    explicit BoxAnswerer(QMessageBox::StandardButton b) : button(b)
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts << box->text();
                box->button(button)->click();
            }
        });
        timer.start(30);
    }
    QMessageBox::StandardButton button;
    QTimer timer;
    QStringList texts;
};

quint16 refusingPort()
{
    // (From outside the system's range for clients, as the simulator's own.)
    SimTcpTransport probe;
    probe.listen();
    probe.stopListening();
    return probe.port(); // closed again: connections are refused
}
} // namespace

class DialogWaits : public DialogFixture
{
protected:
    void SetUp() override
    {
        DialogFixture::SetUp();
        UiDisplay::allowOffscreen(true);
    }
    void TearDown() override
    {
        if (FrmConfigDialog* d = FrmConfigDialog::current())
            d->close();
        if (frmSetupDialog* d = frmSetupDialog::current())
            d->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        UiDisplay::allowOffscreen(false);
        DialogFixture::TearDown();
    }
    FrmConfigDialog* show()
    {
        FrmConfigDialog::showDialog(false);
        FrmConfigDialog* d = FrmConfigDialog::current();
        if (d)
            waitFor([&] { return d->isVisible(); }, 5000);
        return d;
    }
};

// OK moves the link to a port that refuses or to one that takes connections and never answers:
// while OK waits the dialog says what for, and Cancel, the close box or Escape give the wait up
// within a second; what OK stored stays, and the dialog closes once OK has returned.
TEST_F(DialogWaits, CancelDuringOksWaitForTheControllerGivesItUp)
{
    startPlugin();
    ASSERT_FALSE(HasFatalFailure());
    gSerialIPAddress = "127.0.0.1";
    gUseSerialComm = true;
    gCommPort = QString::number(tcp->port());
    writeConfig("tvkXapKorvane.ini",
                "[tspi_quillon]\r\nSerialIP=127.0.0.1\r\nCommPort=" + QByteArray::number(tcp->port()) + "\r\n");
    // A port of its own per case: OK with the link unchanged waits for nothing.
    std::vector<std::unique_ptr<QTcpServer>> silent;
    QList<QTcpSocket*> held;
    auto silentPort = [&] {
        silent.push_back(std::make_unique<QTcpServer>());
        QTcpServer* server = silent.back().get();
        server->listen(QHostAddress::LocalHost);
        QObject::connect(server, &QTcpServer::newConnection, [&held, server] {
            while (QTcpSocket* s = server->nextPendingConnection())
                held << s;
        });
        return QString::number(server->serverPort());
    };
    enum How { CancelButton, CloseBox, EscapeKey };
    struct Case {
        const char* name;
        bool answersNever;  // else: refuses
        How how;
    };
    const Case cases[] = {
        {"silent port, Cancel", true, CancelButton}, {"silent port, close box", true, CloseBox},
        {"silent port, Escape", true, EscapeKey},    {"refusing port, Cancel", false, CancelButton},
    };
    gPlugin.ReplyTimeout = 4;
    gControllerTiming.reconnectMs = 2000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrmConfigDialog* dialog = show();
        ASSERT_NE(dialog, nullptr);
        QPointer<FrmConfig> model = dialog->model();
        const QString port = c.answersNever ? silentPort() : QString::number(refusingPort());
        auto* edit = dialog->findChild<QLineEdit*>("aCommPort");
        edit->selectAll();
        QTest::keyClicks(edit, port);

        bool sawWait = false, cancelEnabled = false;
        QString note;
        QElapsedTimer sinceCancel;
        QTimer during;
        during.setSingleShot(true);
        QObject::connect(&during, &QTimer::timeout, [&] {
            if (!model || !model->waitingForController())
                return;
            sawWait = true;
            note = dialog->findChild<QLabel*>("Note")->text();
            auto* cancel = dialog->findChild<QPushButton*>("CancelButton");
            cancelEnabled = cancel->isEnabled();
            sinceCancel.start();
            if (c.how == CancelButton)
                cancel->click();
            else if (c.how == CloseBox)
                dialog->close();
            else
                QTest::keyClick(dialog, Qt::Key_Escape);
        });
        during.start(300);
        dialog->findChild<QPushButton*>("OKButton")->click();
        ASSERT_TRUE(sawWait) << "OK waited for the controller";
        EXPECT_LT(sinceCancel.elapsed(), 1000) << "the wait went on after it was given up";
        EXPECT_TRUE(cancelEnabled);
        EXPECT_TRUE(note.contains("Waiting for the controller on 127.0.0.1:" + port)) << note.toStdString();
        EXPECT_TRUE(waitFor([] { return FrmConfig::instance() == nullptr && !FrmConfigDialog::current(); }, 5000));
        EXPECT_EQ(section("tvkXapKorvane.ini").value("commport"), port) << "OK's settings were saved";
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// Escape takes the Cancel path: the next "GUI Setup" reads the files again.
TEST_F(DialogWaits, EscapeUnloadsAndTheNextOpeningRereadsTheFiles)
{
    writeConfig("xaptvkKorvane.ini", "[tspi_quillon]\r\npoll_interval=750\r\n");
    plugin = std::make_shared<tspi>();
    plugin->RegisterCallback(gHostForm);
    FrmConfigDialog* dialog = show();
    ASSERT_NE(dialog, nullptr);
    auto* poll = dialog->findChild<QLineEdit*>("TxtPoll");
    ASSERT_EQ(poll->text(), "750");
    poll->selectAll();
    QTest::keyClicks(poll, "90");
    dialog->tabs()->setCurrentIndex(3);
    QTest::keyClicks(dialog->findChild<QLineEdit*>("aRemap_1"), "12");
    BoxAnswerer no(QMessageBox::No);
    QTest::keyClick(dialog, Qt::Key_Escape);
    EXPECT_EQ(FrmConfig::instance(), nullptr) << "unloaded";
    EXPECT_FALSE(gPlugin.ConfigDialogOpen);
    EXPECT_TRUE(waitFor([] { return !FrmConfigDialog::current(); }, 5000));

    dialog = show();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->findChild<QLineEdit*>("TxtPoll")->text(), "750");
    EXPECT_EQ(dialog->findChild<QLineEdit*>("aRemap_1")->text(), "");
    EXPECT_FALSE(FrmConfig::instance()->irLabelsChanged());
}

TEST_F(DialogWaits, PluginSelectionSavesOnEscapeAndAtExitAndItsTipsSayWhatADoubleClickDoes)
{
    plugin = std::make_shared<tspi>();
    plugin->RegisterCallback(gHostForm);
    gPluginCollection = std::make_shared<Collection>();
    gPluginCollection->add(Variant(ObjectPtr(plugin)), "xaptvkKorvane");
    writeConfig("Settings.ini", "[Plugins]\r\nxaptvkKorvane=true\r\n");
    gHostForm->settingsFile()->Load(appDir.filePath("Config/Settings.ini"));
    auto saved = [&](const QString& section, const QString& key) {
        IniTool ini;
        ini.Load(appDir.filePath("Config/Settings.ini"));
        return ini.Read(section, key, "<none>");
    };

    HostHooksInstance().showPluginSelection();
    frmSetupDialog* dialog = frmSetupDialog::current();
    ASSERT_NE(dialog, nullptr);
    auto* included = dialog->findChild<QListWidget*>("ExcludeList");
    auto* available = dialog->findChild<QListWidget*>("PluginList");
    EXPECT_EQ(included->toolTip(), "Dbl-Click to Exclude Plugin from Menu Search");
    EXPECT_EQ(available->toolTip(), "Dbl-Click to Include Plugin in Menu Search");
    ASSERT_EQ(included->count(), 1);
    emit included->itemDoubleClicked(included->item(0));
    ASSERT_EQ(available->count(), 1) << "a double click on the included list excludes";
    dialog->findChild<QCheckBox*>("aDebugLog")->click();
    QTest::keyClick(dialog, Qt::Key_Escape);
    EXPECT_EQ(frmSetup::instance(), nullptr);
    EXPECT_EQ(saved("Plugins", "xaptvkKorvane"), "False");
    EXPECT_EQ(saved("tspi_quillon", "DebugLog"), "1");

    // Open at Exit: the host form's unload saves it first.
    HostHooksInstance().showPluginSelection();
    dialog = frmSetupDialog::current();
    ASSERT_NE(dialog, nullptr);
    dialog->findChild<QCheckBox*>("aDebugLog")->click();
    registerHostSubsystem();
    Hooks().unloadHostForm();
    EXPECT_EQ(frmSetup::instance(), nullptr);
    EXPECT_EQ(saved("tspi_quillon", "DebugLog"), "0");
    Hooks() = CoreHooks();
    gPluginCollection.reset();
    gDebugMode = 0;
}

// Every tab with the demo's named controller, a 3,000-character IR device
// name and a name with "&": the dialog fits 1280x800 and OK and Cancel show.
TEST_F(DialogWaits, NamedControllerFitsTheScreenOnEveryTab)
{
    QByteArray labels = "\"" + QByteArray(3000, 'W') + "\"\r\n";
    for (int g = 1; g < 32; ++g)
        labels += "\"Device " + QByteArray::number(g) + "\"\r\n";
    writeConfig("irlbl.cfg", labels);
    startPlugin();
    ASSERT_FALSE(HasFatalFailure());
    QList<int> variables;
    for (int v = 0; v < 128; ++v)
        variables << v;
    QList<QPair<int, int>> points;
    for (int unit : {1, 5, 10})
        for (int p = 0; p < (unit == 10 ? 8 : 16); ++p)
            points << qMakePair(unit, p);
    selectAndCreate(variables, points);
    // The names the demo's store gives its devices, by device code.
    QFile demo(QStringLiteral(KORVANE_DEMO_DIR) + "/Config/tvkXapKorvane.ini");
    ASSERT_TRUE(demo.open(QIODevice::ReadOnly));
    int named = 0;
    bool inDevices = false;
    for (const QByteArray& raw : demo.readAll().split('\n')) {
        const QString line = QString::fromLatin1(raw).trimmed();
        if (line.startsWith('[') && line.endsWith(']') && !line.contains('=')) {
            inDevices = line == "[PluginDevices]";
            continue;
        }
        const QString code = line.section('=', 0, 0);
        const QStringList fields = line.section('=', 1).split(';');
        if (!inDevices || fields.size() < 2 || !hs->deviceByCode(code))
            continue;
        hs->deviceByCode(code)->let("location", Variant(fields[0]));
        hs->deviceByCode(code)->let("name", Variant(fields[1]));
        ++named;
    }
    EXPECT_GT(named, 150);
    hs->deviceByCode(UnitMappings::variableCode(5))->let("name", Variant("Sun & Rain Gauge of the Long Garden Wall"));

    FrmConfigDialog* dialog = show();
    ASSERT_NE(dialog, nullptr);
    QCoreApplication::processEvents();
    const QRect screen(0, 0, 1280, 800);
    for (int i = 0; i < dialog->tabs()->count(); ++i) {
        dialog->tabs()->setCurrentIndex(i);
        QCoreApplication::processEvents();
        const QSize size = dialog->frameGeometry().size();
        EXPECT_LE(size.width(), 1280) << "tab " << i;
        EXPECT_LE(size.height(), 800) << "tab " << i;
        EXPECT_LE(dialog->minimumSizeHint().width(), 1280) << "tab " << i;
        for (const char* name : {"OKButton", "CancelButton"}) {
            auto* b = dialog->findChild<QPushButton*>(name);
            const QRect r(b->mapTo(dialog, QPoint(0, 0)), b->size());
            EXPECT_TRUE(dialog->rect().contains(r)) << name << " on tab " << i;
        }
        const QString path = QStringLiteral(KORVANE_SCREENSHOT_DIR) + "/FrmConfig-named-" + QString::number(i + 1)
            + "-" + dialog->tabs()->tabText(i).remove(' ').remove('/') + ".png";
        EXPECT_TRUE(dialog->grab().toImage().save(path)) << path.toStdString();
    }
    // The variables' fourth column (variables 96 to 127) is within the tab.
    dialog->tabs()->setCurrentIndex(1);
    QCoreApplication::processEvents();
    auto* last = dialog->findChild<QCheckBox*>("Check1_127");
    const QPoint at = last->mapTo(dialog, QPoint(last->width() - 1, 0));
    EXPECT_LT(at.x(), dialog->width()) << "no column is cut off";
    auto* amp = dialog->findChild<QCheckBox*>("Check1_5");
    EXPECT_TRUE(amp->text().contains("Sun && Rain")) << amp->text().toStdString() << ": '&' is no shortcut";
    auto* device = dialog->findChild<QComboBox*>("aIRDevice");
    EXPECT_LT(device->sizeHint().width(), 700);
}
