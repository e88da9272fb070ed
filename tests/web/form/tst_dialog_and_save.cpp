// The status page's Save while the configuration dialog is open on the same
// controller: during its question, during its reconnect, and after Escape.
#include "FormFixture.h"

#include "controller/ui/FrmConfig.h"
#include "controller/ui/FrmConfigDialog.h"
#include "host/ui/UiDisplay.h"
#include "controller/ui/UiRegistration.h"
#include "controller/UnitMappings.h"
#include "host/HostGlobals.h"

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
