// The dialogs' widgets on the offscreen platform: opened the way a user opens
// them, captions, clicks reaching the model, and a screenshot of every tab.
#include "UiTestSupport.h"

#include "controller/PluginHooks.h"
#include "controller/PluginRegistration.h"
#include "controller/ui/FrmConfigDialog.h"
#include "host/ui/UiDisplay.h"
#include "host/ui/frmSetupDialog.h"
#include "core/CoreHooks.h"
#include "core/Yonder.h"
#include "core/xapQuillonForm.h"
#include "host/Application.h"
#include "host/HostGlobals.h"
#include "host/HostHooks.h"
#include "host/frmSetup.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

namespace {
// Answers every message box that comes up with `button` and remembers its text.
class MessageBoxAnswerer : public QObject
{
public:
    explicit MessageBoxAnswerer(QMessageBox::StandardButton button) : m_button(button)
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            texts << box->text();
            if (QAbstractButton* b = box->button(m_button))
                b->click();
            else
                box->reject();
        });
        m_timer.start(30);
    }
    QStringList texts;

private:
    QMessageBox::StandardButton m_button;
    QTimer m_timer;
};

QStringList childTexts(QWidget* w)
{
    QStringList out;
    for (auto* b : w->findChildren<QAbstractButton*>())
        out << b->text();
    for (auto* l : w->findChildren<QLabel*>())
        out << l->text();
    for (auto* g : w->findChildren<QGroupBox*>())
        out << g->title().replace("&&", "&");
    return out;
}

QString screenshot(QWidget* w, const QString& name)
{
    const QString path = QStringLiteral(KORVANE_SCREENSHOT_DIR) + "/" + name + ".png";
    QImage image = w->grab().toImage();
    return !image.isNull() && image.save(path) ? path : QString();
}
} // namespace

class DialogWidgetsTest : public DialogFixture
{
protected:
    void SetUp() override
    {
        DialogFixture::SetUp();
        UiDisplay::allowOffscreen(true);
        startPlugin();
        ASSERT_FALSE(HasFatalFailure());
        gPluginInstance = plugin;
        gPluginCollection = std::make_shared<Collection>();
        gPluginCollection->add(Variant(ObjectPtr(plugin)), "xaptvkKorvane");
    }
    void TearDown() override
    {
        if (FrmConfigDialog* d = FrmConfigDialog::current())
            d->close();
        if (frmSetupDialog* d = frmSetupDialog::current())
            d->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        gYonderObject.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Hooks() = CoreHooks();
        gPluginInstance.reset();
        UiDisplay::allowOffscreen(false);
        DialogFixture::TearDown();
    }
    // The tray form as the program makes it; its start-up finds the plug-in running.
    QMenu* trayMenu()
    {
        registerControllerSubsystem();
        Hooks().restartPlugin = nullptr;
        Hooks().shutdownIO = nullptr;
        // Releasing the last Yonder ends the process (every later event loop
        // would return at once): this one lives as long as the test program.
        static auto* keep = new std::shared_ptr<Yonder>(std::make_shared<Yonder>());
        gYonderObject = *keep;
        return xapQuillonForm::instance() ? xapQuillonForm::instance()->menu() : nullptr;
    }
};

TEST_F(DialogWidgetsTest, TrayMenuOpensTheDialogAndAMatrixClickCreatesTheDevice)
{
    QMenu* menu = trayMenu();
    ASSERT_NE(menu, nullptr);
    QAction* setup = nullptr;
    for (QAction* a : menu->actions())
        if (a->text() == "GUI Setup")
            setup = a;
    ASSERT_NE(setup, nullptr);
    setup->trigger();
    FrmConfigDialog* dialog = FrmConfigDialog::current();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(waitFor([&] { return dialog->isVisible(); }, 5000));
    EXPECT_EQ(dialog->windowTitle(), "Configure Interface");

    QStringList tabs;
    for (int i = 0; i < dialog->tabs()->count(); ++i)
        tabs << dialog->tabs()->tabText(i);
    EXPECT_EQ(tabs, (QStringList{"General", "Variables", "I/O Devices", "Infra Red Remap", "QPRO"}));
    const QStringList texts = childTexts(dialog);
    for (const char* caption :
         {"Connectivity", "Controller & I/O Units", "Logging", "IR Recognition", "HTTP / Browser Selections",
          "QPRO Files", "Applications", "Synchronize System Map and Tessera Definitions",
          "Include Following for Synchronization", "Update", "Cancel", "Disconnect from Quillon", "Set Clock",
          "Create Kestrel Device", "Create and Delete Variables", "Create and Delete  I/O Point Devices ", "QPRO",
          "IRPro", "Synchronize Korvane to QPRO", "Tessera Master", "QPRO Master", "Com Open", "Invert Inputs",
          "Log checksum errors and serial timeouts", "Log comms to quillon.log",
          "Do Not Forward IR Recognition to Korvane", "Process X10 Transmit from Quillon",
          "Show Setup Page on Homeser Title Bar", "Serial Comm Port", "Serial Comm IP", "Poll Interval for variables",
          "Milliseconds", "HTTP Server Port", "Style Sheet", "Background Color", "Project File Path", "cpuqx.exe Path",
          "IRpro.exe Path", "Units discovered:", "Tessera IR Definition", "Remap to IR Loc", "Variables", "X10",
          "I/O Units", "IR Labels", "Messages", "No House Code", "Version 1.0.0"})
        EXPECT_TRUE(texts.contains(caption)) << caption;
    auto* list = dialog->findChild<QListWidget*>("List1");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count(), 6);
    EXPECT_EQ(dialog->findChild<QLineEdit*>("TxtPoll")->text(), "2000");

    for (int i = 0; i < dialog->tabs()->count(); ++i) {
        dialog->tabs()->setCurrentIndex(i);
        QCoreApplication::processEvents();
        const QString file = screenshot(dialog, "FrmConfig-" + QString::number(i + 1) + "-"
                                                    + dialog->tabs()->tabText(i).remove(' ').remove('/'));
        EXPECT_FALSE(file.isEmpty()) << "tab " << i;
    }

    dialog->tabs()->setCurrentIndex(1);
    auto* cell = dialog->findChild<QCheckBox*>("Check1_3");
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->text(), "Variable 3");
    cell->click();
    EXPECT_TRUE(FrmConfig::instance()->matrixChanged());
    dialog->tabs()->setCurrentIndex(2);
    auto* point = dialog->findChild<QCheckBox*>("IOPoint_33"); // unit 10, point 1
    ASSERT_NE(point, nullptr);
    EXPECT_TRUE(point->isVisibleTo(dialog));
    EXPECT_FALSE(dialog->findChild<QCheckBox*>("IOPoint_40")->isVisibleTo(dialog)) << "a relay unit has 8 points";
    point->click();

    MessageBoxAnswerer yes(QMessageBox::Yes);
    dialog->findChild<QPushButton*>("OKButton")->click();
    EXPECT_EQ(yes.texts,
              QStringList{"Changes were made to Variables or IO Point Devices.  Should these changes be acted upon?"});
    EXPECT_EQ(FrmConfig::instance(), nullptr);
    EXPECT_TRUE(waitFor([] { return FrmConfigDialog::current() == nullptr; }, 5000)) << "the dialog closed";
    EXPECT_TRUE(deviceExists("[4"));
    EXPECT_EQ(deviceProperty("[4", "name"), "Variable 3");
    EXPECT_EQ(deviceProperty("_2", "iomisc"), "10!13!1!0");
}

TEST_F(DialogWidgetsTest, EditsReachTheModelAndABadPollIntervalIsShownInTheDialog)
{
    FrmConfigDialog::showDialog(false);
    FrmConfigDialog* dialog = FrmConfigDialog::current();
    ASSERT_NE(dialog, nullptr);
    auto* poll = dialog->findChild<QLineEdit*>("TxtPoll");
    poll->selectAll();
    QTest::keyClicks(poll, "99999");
    EXPECT_EQ(FrmConfig::instance()->TxtPoll, "99999");
    auto* note = dialog->findChild<QLabel*>("Note");
    EXPECT_FALSE(note->isVisibleTo(dialog));
    dialog->findChild<QPushButton*>("OKButton")->click();
    ASSERT_NE(FrmConfig::instance(), nullptr) << "the dialog stays open";
    EXPECT_TRUE(note->isVisibleTo(dialog));
    EXPECT_TRUE(note->text().contains("99999"));
    EXPECT_EQ(poll->text(), "2000") << "the value as loaded is kept";

    // The messages box cannot be ticked.
    dialog->tabs()->setCurrentIndex(4);
    auto* messages = dialog->findChild<QCheckBox*>("aIncludeMessages");
    messages->click();
    EXPECT_FALSE(messages->isChecked());
    EXPECT_TRUE(logged("QPRO Messages Not Implemented"));

    // Remap edits are taken as they are typed.
    dialog->tabs()->setCurrentIndex(3);
    auto* remap = dialog->findChild<QLineEdit*>("aRemap_2");
    QTest::keyClicks(remap, "77");
    EXPECT_EQ(FrmConfig::instance()->aRemap[2], "77");
    EXPECT_TRUE(FrmConfig::instance()->irLabelsChanged());

    // The close box is a Cancel: nothing saved, the model unloaded.
    MessageBoxAnswerer no(QMessageBox::No);
    dialog->close();
    EXPECT_EQ(FrmConfig::instance(), nullptr);
    EXPECT_FALSE(QFile::exists(appDir.filePath("Config/irmap.cfg")));
}

TEST_F(DialogWidgetsTest, ModalDialogFromConfigX10ReturnsWhenCancelled)
{
    gPlugin.HostVersionAbove1 = true;
    bool seen = false;
    QTimer cancel;
    QObject::connect(&cancel, &QTimer::timeout, [&] {
        FrmConfigDialog* d = FrmConfigDialog::current();
        if (!d || !d->isVisible() || QApplication::activeModalWidget() != d)
            return;
        seen = true;
        d->findChild<QPushButton*>("CancelButton")->click();
    });
    cancel.start(30);
    plugin->ConfigX10();
    EXPECT_TRUE(seen);
    EXPECT_EQ(FrmConfig::instance(), nullptr);
}

TEST_F(DialogWidgetsTest, WithoutADisplayNothingIsShown)
{
    UiDisplay::allowOffscreen(false);
    plugin->SelectMenu(Variant("Setup"));
    plugin->ConfigIO();
    EXPECT_EQ(FrmConfigDialog::current(), nullptr);
    EXPECT_EQ(FrmConfig::instance(), nullptr);
    EXPECT_FALSE(gPlugin.ConfigDialogOpen);
    EXPECT_TRUE(logged("no display, the dialog cannot be shown"));
    HostHooksInstance().showPluginSelection();
    EXPECT_EQ(frmSetupDialog::current(), nullptr);
    EXPECT_EQ(frmSetup::instance(), nullptr);
}

TEST_F(DialogWidgetsTest, TheHostFormsSetupButtonShowsThePluginSelection)
{
    ASSERT_EQ(frmSetupDialog::current(), nullptr);
    gHostForm->aSetupButton_Click();
    frmSetupDialog* dialog = frmSetupDialog::current();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_NE(frmSetup::instance(), nullptr);
    gHostForm->aSetupButton_Click();
    EXPECT_EQ(frmSetupDialog::current(), dialog) << "a second click shows the same dialog";
    dialog->reject();
}

TEST_F(DialogWidgetsTest, PluginSelectionListsPluginsAndOpensTheirMenus)
{
    writeConfig("Settings.ini", "[Plugins]\r\nxaptvkKorvane=true\r\nother=true\r\n");
    gHostForm->settingsFile()->Load(appDir.filePath("Config/Settings.ini"));
    gRegisteredMenus = std::make_shared<Dictionary>();
    gRegisteredMenus->add(Variant("xaptvkKorvane~Setup"), Variant("xaptvkKorvane"));

    HostHooksInstance().showPluginSelection();
    frmSetupDialog* dialog = frmSetupDialog::current();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "tvkMenu Menu Setup Selections");
    const QStringList texts = childTexts(dialog);
    for (const char* caption : {"Open Plugin Form", "Plugins Included", "Available Plugins", "Retrieve Plugins",
                                "General Parameters", "Debug Log", "Label3"})
        EXPECT_TRUE(texts.contains(caption)) << caption;
    auto* selected = dialog->findChild<QListWidget*>("ExcludeList");
    auto* available = dialog->findChild<QListWidget*>("PluginList");
    ASSERT_EQ(selected->count(), 1) << "a name no loaded plug-in has is not listed";
    EXPECT_EQ(selected->item(0)->text(), "xaptvkKorvane");
    EXPECT_EQ(available->count(), 0);
    auto* menus = dialog->findChild<QComboBox*>("aPluginForm");
    ASSERT_EQ(menus->count(), 1);
    EXPECT_EQ(menus->itemText(0), "xaptvkKorvane - Setup");
    EXPECT_FALSE(screenshot(dialog, "frmSetup").isEmpty());

    // Double clicks move the plug-in between the lists.
    emit selected->itemDoubleClicked(selected->item(0));
    EXPECT_EQ(selected->count(), 0);
    ASSERT_EQ(available->count(), 1);
    emit available->itemDoubleClicked(available->item(0));
    emit selected->itemDoubleClicked(selected->item(0));

    // The menu entry opens the plug-in's configuration dialog.
    emit menus->activated(0);
    ASSERT_NE(FrmConfigDialog::current(), nullptr);
    FrmConfigDialog::current()->findChild<QPushButton*>("CancelButton")->click();

    dialog->findChild<QCheckBox*>("aDebugLog")->click();
    dialog->close();
    EXPECT_EQ(frmSetup::instance(), nullptr);
    EXPECT_EQ(gDebugMode, 1);
    IniTool saved;
    saved.Load(appDir.filePath("Config/Settings.ini"));
    EXPECT_EQ(saved.Read("Plugins", "xaptvkKorvane", ""), "False");
    EXPECT_EQ(saved.Read("Plugins", "other", ""), "true");
    EXPECT_EQ(saved.Read("tspi_quillon", "DebugLog", ""), "1");
    gRegisteredMenus.reset();
    gDebugMode = 0;
}

// Loaded without being shown (as the status page loads it), the dialog shows
// no message box even where a display is available.
TEST_F(DialogWidgetsTest, HiddenLoadShowsNoMessageBox)
{
    MessageBoxAnswerer answerer(QMessageBox::Yes);
    gPlugin.DisconnectRequested = true;
    gPlugin.IRZonesWritten = true;
    FrmConfig& f = FrmConfig::Load();
    f.Check1_Click(2, 1);
    f.aRemap_Change(0, "5");
    FrmConfig::Unload();
    QCoreApplication::processEvents();
    EXPECT_TRUE(answerer.texts.isEmpty()) << answerer.texts.join(" | ").toStdString();
    EXPECT_EQ(FrmConfigDialog::current(), nullptr);
    gPlugin.DisconnectRequested = false;
}

// A click on a path box opens the file dialog; cancelling it changes nothing.
TEST_F(DialogWidgetsTest, ClickOnAPathBoxOpensTheFileDialog)
{
    FrmConfigDialog::showDialog(false);
    FrmConfigDialog* dialog = FrmConfigDialog::current();
    ASSERT_NE(dialog, nullptr);
    dialog->tabs()->setCurrentIndex(4);
    QString title;
    QTimer cancel;
    QObject::connect(&cancel, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == dialog)
            return;
        title = modal->metaObject()->className();
        qobject_cast<QDialog*>(modal)->reject();
    });
    cancel.start(30);
    auto* box = dialog->findChild<QLineEdit*>("aQPROexe");
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_EQ(title, "QFileDialog");
    EXPECT_EQ(FrmConfig::instance()->aQPROexe, "");
    EXPECT_EQ(setting("QPROFile"), "<none>");
}

// Every remap of a page refused at once, with a bad poll interval and port
// beside them: the note says one line per kind of refusal, and the dialog with
// its note still fits a 1280x800 screen with OK and Cancel on it.
TEST_F(DialogWidgetsTest, ManyRefusalsMakeAShortNoteAndTheDialogFits)
{
    FrmConfigDialog::showDialog(false);
    FrmConfigDialog* dialog = FrmConfigDialog::current();
    ASSERT_NE(dialog, nullptr);
    dialog->tabs()->setCurrentIndex(3);
    for (int i = 0; i < 36; ++i)
        QTest::keyClicks(dialog->findChild<QLineEdit*>("aRemap_" + QString::number(i)), "x" + QString::number(i));
    for (const char* name : {"TxtPoll", "aServerPort"}) {
        auto* edit = dialog->findChild<QLineEdit*>(name);
        edit->selectAll();
        QTest::keyClicks(edit, "99999");
    }
    dialog->findChild<QPushButton*>("OKButton")->click();
    ASSERT_NE(FrmConfig::instance(), nullptr) << "the dialog stays open to show its note";
    const QString note = FrmConfig::instance()->Note;
    const QStringList lines = note.split('\n');
    EXPECT_EQ(lines.size(), 3) << note.toStdString();
    EXPECT_TRUE(note.contains("36 remaps were not taken: locations 0-35")) << note.toStdString();
    EXPECT_TRUE(note.contains("99999"));
    QCoreApplication::processEvents();
    const QSize size = dialog->size().expandedTo(dialog->minimumSizeHint());
    EXPECT_LE(size.height(), 800);
    EXPECT_LE(size.width(), 1280);
    const QRect inside = dialog->rect();
    for (const char* name : {"OKButton", "CancelButton"}) {
        auto* b = dialog->findChild<QPushButton*>(name);
        EXPECT_TRUE(inside.contains(QRect(b->mapTo(dialog, QPoint(0, 0)), b->size()))) << name << " is off the dialog";
    }
    const QString path = screenshot(dialog, "FrmConfig-refusal-note");
    EXPECT_FALSE(path.isEmpty());
}
