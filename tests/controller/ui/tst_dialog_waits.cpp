// The dialogs' widgets while a handler waits for the controller, Escape, and
// how the dialog fits a 1280x800 screen with a named controller.
#include "UiTestSupport.h"

#include "controller/ui/FrmConfigDialog.h"
#include "controller/ui/UiDisplay.h"
#include "controller/ui/frmSetupDialog.h"
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
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTcpServer>
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
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort(); // closed again: connections are refused
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

// OK moves the link to a port that refuses: while it waits, Cancel, the close
// box and Escape are not taken; the wait ends with the link's own time-out.
TEST_F(DialogWaits, CancelDuringOksWaitOnARefusingPort)
{
    startPlugin();
    ASSERT_FALSE(HasFatalFailure());
    gSerialIPAddress = "127.0.0.1";
    gUseSerialComm = true;
    gCommPort = QString::number(tcp->port());
    writeConfig("tvkXapKorvane.ini",
                "[tspi_quillon]\r\nSerialIP=127.0.0.1\r\nCommPort=" + QByteArray::number(tcp->port()) + "\r\n");
    FrmConfigDialog* dialog = show();
    ASSERT_NE(dialog, nullptr);
    QPointer<FrmConfig> model = dialog->model();
    const QString port = QString::number(refusingPort());
    auto* edit = dialog->findChild<QLineEdit*>("aCommPort");
    edit->selectAll();
    QTest::keyClicks(edit, port);

    bool sawWait = false, cancelEnabled = true, stayedAfterClose = false, stayedAfterCancel = false;
    QTimer during;
    during.setSingleShot(true);
    QObject::connect(&during, &QTimer::timeout, [&] {
        if (!model || !model->busy())
            return;
        sawWait = true;
        cancelEnabled = dialog->findChild<QPushButton*>("CancelButton")->isEnabled();
        dialog->close();
        QTest::keyClick(dialog, Qt::Key_Escape);
        stayedAfterClose = dialog->isVisible() && FrmConfig::instance() == model;
        model->CancelButton_Click(); // as a Cancel from anywhere would
        stayedAfterCancel = FrmConfig::instance() == model;
    });
    during.start(100);
    BoxAnswerer no(QMessageBox::No);
    QElapsedTimer t;
    t.start();
    dialog->findChild<QPushButton*>("OKButton")->click();
    const qint64 waited = t.elapsed();
    ASSERT_TRUE(sawWait) << "OK waited for the link";
    EXPECT_FALSE(cancelEnabled);
    EXPECT_TRUE(stayedAfterClose);
    EXPECT_TRUE(stayedAfterCancel);
    // One connect wait of six reconnect periods, not the reply time-outs of a
    // discovery on a link that never opened.
    EXPECT_LT(waited, 6 * gControllerTiming.reconnectMs + 4000) << waited << " ms";
    EXPECT_TRUE(waitFor([] { return FrmConfig::instance() == nullptr && !FrmConfigDialog::current(); }, 5000));
    EXPECT_EQ(section("tvkXapKorvane.ini").value("commport"), port) << "OK's settings were saved";
    EXPECT_TRUE(logged("did not open"));
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
