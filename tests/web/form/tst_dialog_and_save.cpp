// The status page's Save while the configuration dialog is open on the same
// controller: during its question, during its reconnect, and after Escape.
#include "FormFixture.h"
#include "FormFields.h"

#include "controller/ui/FrmConfig.h"
#include "controller/ui/FrmConfigDialog.h"
#include "host/ui/UiDisplay.h"
#include "controller/ui/UiRegistration.h"
#include "controller/UnitMappings.h"
#include "host/HostGlobals.h"
#include "controller/PluginSettings.h"
#include "core/Globals.h"
#include "core/Logging.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {
QString hex2(int v)
{
    return QString::number(v, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

QString varDisp(int n)
{
    return QStringLiteral("V") + QString::number(n) + QLatin1Char(':') + hex2(n + 1);
}
} // namespace

class DialogAndSave : public FormFixture
{
protected:
    void SetUp() override
    {
        FormFixture::SetUp();
        registerControllerUi();
        UiDisplay::allowOffscreen(true);
        startAll();
        ASSERT_FALSE(HasFatalFailure());
        selectAndCreate({0, 1}, {{1, 0}});
        gPlugin.IncludeVariables = true;
    }
    void TearDown() override
    {
        if (FrmConfigDialog* d = FrmConfigDialog::current())
            d->close();
        if (FrmConfig::instance()) {
            FrmConfig::instance()->setPrompts(nullptr);
            FrmConfig::Unload();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        UiDisplay::allowOffscreen(false);
        FormFixture::TearDown();
    }
    FrmConfigDialog* showDialog()
    {
        FrmConfigDialog::showDialog(false);
        return FrmConfigDialog::current();
    }
    // A Save carrying variable 7's row, ticked.
    bool saveVariable7()
    {
        const Fields f{{"clientinput", "yes"},      {"clientvalue", "yes"}, {"UpdateButton", "Save Changes"},
                       {"IncludeVariables", "1"},   {varDisp(7) + "DC", ""}, {varDisp(7) + "Used", "on"},
                       {varDisp(7) + "Tag", ""}};
        return post(f).startsWith("HTTP/1.1 200");
    }
    void expectNoDeviceLost()
    {
        EXPECT_TRUE(deviceExists(UnitMappings::variableCode(0)));
        EXPECT_TRUE(deviceExists(UnitMappings::variableCode(1)));
        EXPECT_TRUE(deviceExists(houseOf(1) + "1"));
        EXPECT_TRUE(deviceExists(UnitMappings::variableCode(7))) << "the page's Save was carried out";
    }
};

TEST_F(DialogAndSave, SaveWhileTheDialogAsksItsQuestion)
{
    FrmConfigDialog* dialog = showDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->findChild<QCheckBox*>("Check1_5")->click();
    bool posted = false, saved = false, boxSurvived = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (!posted) {
            posted = true;
            QPointer<QMessageBox> guard(box);
            saved = saveVariable7(); // events run inside the question
            boxSurvived = !guard.isNull();
            return; // the box is looked at again on the next tick
        }
        box->button(QMessageBox::Yes)->click();
    });
    answer.start(30);
    dialog->findChild<QPushButton*>("CancelButton")->click();
    EXPECT_TRUE(posted);
    EXPECT_TRUE(saved);
    EXPECT_TRUE(boxSurvived) << "the question outlives a Save that arrives while it is up";
    EXPECT_TRUE(waitFor([] { return FrmConfig::instance() == nullptr && !FrmConfigDialog::current(); }, 10000));
    expectNoDeviceLost();
    EXPECT_TRUE(deviceExists(UnitMappings::variableCode(5))) << "the question was answered Yes";
    EXPECT_FALSE(gPlugin.ConfigDialogOpen);
}

TEST_F(DialogAndSave, SaveDuringDisconnectsReconnect)
{
    FrmConfigDialog* dialog = showDialog();
    ASSERT_NE(dialog, nullptr);
    QPointer<FrmConfig> model = dialog->model();
    auto* disconnect = dialog->findChild<QPushButton*>("Disconnect");
    disconnect->click();
    form().loop.Timer3_Timer();
    ASSERT_FALSE(gPlugin.PortOpenFlag);
    bool duringReconnect = false, saved = false, stayed = false;
    QTimer during;
    QObject::connect(&during, &QTimer::timeout, [&] {
        if (duringReconnect || !model || !model->busy())
            return;
        duringReconnect = true;
        saved = saveVariable7();
        // The handler is still running: its dialog and form must still be there.
        stayed = FrmConfig::instance() == model && FrmConfigDialog::current() == dialog && dialog->isVisible();
    });
    during.start(5);
    disconnect->click();
    during.stop();
    EXPECT_TRUE(duringReconnect);
    EXPECT_TRUE(saved);
    EXPECT_TRUE(stayed);
    EXPECT_TRUE(gPlugin.PortOpenFlag) << "reconnected";
    expectNoDeviceLost();
    QCoreApplication::processEvents();
    if (FrmConfig* f = FrmConfig::instance()) {
        EXPECT_FALSE(f->busy());
        EXPECT_NE(FrmConfigDialog::current(), nullptr);
    }
}

// Escape unloads the dialog with its edits: a later Save acts on none of them.
TEST_F(DialogAndSave, SaveAfterEscapeActsOnNothingFromTheDialog)
{
    FrmConfigDialog* dialog = showDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->findChild<QCheckBox*>("Check1_0")->click(); // would delete variable 0's device
    dialog->findChild<QCheckBox*>("Check1_3")->click(); // would create variable 3's
    QTimer no;
    QObject::connect(&no, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->button(QMessageBox::No)->click();
    });
    no.start(30);
    QTest::keyClick(dialog, Qt::Key_Escape);
    no.stop();
    EXPECT_EQ(FrmConfig::instance(), nullptr);
    ASSERT_TRUE(saveVariable7());
    expectNoDeviceLost();
    EXPECT_FALSE(deviceExists(UnitMappings::variableCode(3)));
}

namespace {
// One setting that both the page and the dialog show: what the page's Save
// types into it, and where the value lives.
struct Shared
{
    const char *field;  // the page's field
    const char *value;  // what the page's user sets ("" unticks a box)
    const char *file;
    const char *key;
    const char *stored; // what the file holds after the page's Save
};
const Shared kShared[] = {
    {"IncludeX10", "1", "xaptvkKorvane.ini", "IncludeX10", "1"},
    {"IncludeIO", "1", "xaptvkKorvane.ini", "IncludeIO", "1"},
    {"SerialIP", "127.0.0.2", "tvkXapKorvane.ini", "SerialIP", "127.0.0.2"},
    {"CommPort", "4999", "tvkXapKorvane.ini", "CommPort", "4999"},
    {"poll_interval", "750", "xaptvkKorvane.ini", "poll_interval", "750"},
    {"ServerPort", "8123", "tvkXapKorvane.ini", "HTTPPort", "8123"},
    {"Background", "#123456", "tvkXapKorvane.ini", "Background", "#123456"},
    {"log_errors", "", "xaptvkKorvane.ini", "log_errors", "0"},
    {"log_comms", "on", "xaptvkKorvane.ini", "log_comms", "1"},
    {"Recognition", "on", "xaptvkKorvane.ini", "Recognition", "1"},
    {"ProjectFile", "/nowhere/house.prj", "xaptvkKorvane.ini", "ProjectFile", "/nowhere/house.prj"},
    {"QPROFile", "/nowhere/cpuqx.exe", "xaptvkKorvane.ini", "QPROFile", "/nowhere/cpuqx.exe"},
};
} // namespace

// With the dialog open, a page Save changes settings the dialog also shows;
// OK then writes only what the dialog's own user changed: the page's values
// stay in the files and in the running options, and the link does not move.
TEST_F(DialogAndSave, OkAfterAPageSaveWritesOnlyWhatTheDialogsUserChanged)
{
    gPlugin.IncludeSetup = true;
    PluginSettings::save("IncludeSetup", "1");
    PluginSettings::save("log_errors", "1");
    gPlugin.LogErrors = 1;
    FrmConfigDialog* dialog = showDialog();
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(dialog->model()->aIncludeX10, 0);

    FormFields::Fields form = FormFields::collect(QString::fromLatin1(post({{"clientinput", "yes"}})));
    ASSERT_TRUE(std::any_of(form.begin(), form.end(), [](const auto &f) { return f.first == "poll_interval"; })) << "the page carries its setup block";
    for (const Shared &s : kShared) {
        form.removeIf([&](const QPair<QString, QString> &f) { return f.first.compare(s.field, Qt::CaseInsensitive) == 0; });
        if (*s.value)
            form.append(qMakePair(QString::fromLatin1(s.field), QString::fromLatin1(s.value)));
    }
    form.append(qMakePair(QStringLiteral("UpdateButton"), QStringLiteral("Save Changes")));
    logMark = PendingXapMessageCount();
    ASSERT_TRUE(post(form).startsWith("HTTP/1.1 200"));
    for (const Shared &s : kShared)
        ASSERT_EQ(iniValue(s.file, "tspi_quillon", s.key), QString::fromLatin1(s.stored)) << s.key << " after the page's Save";
    ASSERT_TRUE(gPlugin.IncludeX10);

    // The dialog's user ticks one box and presses OK.
    dialog->findChild<QCheckBox*>("showInMenu")->click();
    dialog->findChild<QPushButton*>("OKButton")->click();
    EXPECT_EQ(FrmConfig::instance(), nullptr) << dialog->model()->Note.toStdString();
    for (const Shared &s : kShared)
        EXPECT_EQ(iniValue(s.file, "tspi_quillon", s.key), QString::fromLatin1(s.stored)) << s.key << " after the dialog's OK";
    EXPECT_EQ(iniValue("xaptvkKorvane.ini", "tspi_quillon", "showInMenu"), "0") << "the box its user changed";
    EXPECT_TRUE(gPlugin.IncludeX10);
    EXPECT_TRUE(gPlugin.IncludeIO);
    EXPECT_EQ(gSerialIPAddress, QStringLiteral("127.0.0.2"));
    EXPECT_EQ(gCommPort, QStringLiteral("4999"));
    EXPECT_EQ(gHTTPPort, QStringLiteral("8123"));
    EXPECT_EQ(gBackground, QStringLiteral("#123456"));
    EXPECT_EQ(gPlugin.PollInterval, QStringLiteral("750"));
    EXPECT_EQ(gPlugin.LogErrors, 0);
    EXPECT_EQ(gPlugin.LogComms, 1);
    EXPECT_FALSE(loggedSince("Initializing X10 Interface")) << "OK moved the link";
}
