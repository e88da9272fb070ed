#include "frmSetupDialog.h"
#include "UiDisplay.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {
QPointer<frmSetupDialog> sDialog;
}

void frmSetupDialog::showDialog()
{
    if (!UiDisplay::available()) {
        LogError(kProgramName, QStringLiteral("Plugin selection: no display, the dialog cannot be shown"));
        return;
    }
    frmSetup& model = frmSetup::Load();
    // A dialog closed a moment ago waits for its deletion: it is not reused.
    if (sDialog && sDialog->model() != &model)
        sDialog = nullptr;
    if (!sDialog) {
        sDialog = new frmSetupDialog(model);
        sDialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    sDialog->refresh();
    sDialog->show();
    sDialog->raise();
    sDialog->activateWindow();
}

frmSetupDialog* frmSetupDialog::current()
{
    return sDialog.data();
}

frmSetupDialog::frmSetupDialog(frmSetup& model, QWidget* parent) : QDialog(parent), m_model(&model)
{
    setObjectName("frmSetup");
    setWindowTitle("tvkMenu Menu Setup Selections");
    connect(&model, &frmSetup::changed, this, &frmSetupDialog::refresh);
    connect(&model, &frmSetup::unloaded, this, [this] {
        if (m_closing)
            return;
        m_closing = true;
        close();
    });

    m_menuLabel = new QLabel("Open Plugin Form");
    m_menuLabel->setObjectName("lblPluginForm");
    m_menus = new QComboBox;
    m_menus->setObjectName("aPluginForm");
    // Menu captions come from plug-ins: however long one is, the box keeps its width.
    m_menus->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_menus->setMinimumContentsLength(30);
    connect(m_menus, QOverload<int>::of(&QComboBox::activated), this, [this](int) {
        if (m_model)
            m_model->aPluginForm_Click(m_menus->currentText());
    });

    m_plugins = new QListWidget;
    m_plugins->setObjectName("PluginList");
    // Each list's tip says what a double click there does.
    m_plugins->setToolTip("Dbl-Click to Include Plugin in Menu Search");
    connect(m_plugins, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        if (m_model && item)
            m_model->PluginList_DblClick(item->text());
    });
    m_excluded = new QListWidget;
    m_excluded->setObjectName("ExcludeList");
    m_excluded->setToolTip("Dbl-Click to Exclude Plugin from Menu Search");
    connect(m_excluded, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        if (m_model && item)
            m_model->ExcludeList_DblClick(item->text());
    });

    auto* retrieve = new QPushButton("Retrieve Plugins");
    retrieve->setObjectName("aRetrievePlugins");
    connect(retrieve, &QPushButton::clicked, this, [this] {
        if (m_model)
            m_model->aRetrievePlugins_Click();
    });

    auto* frame = new QGroupBox("General Parameters");
    frame->setObjectName("Frame1");
    m_debug = new QCheckBox("Debug Log");
    m_debug->setObjectName("aDebugLog");
    m_debug->setToolTip("Check to send debug information to tessera log");
    connect(m_debug, &QCheckBox::clicked, this, [this](bool on) {
        if (m_model)
            m_model->aDebugLog = on ? 1 : 0;
    });
    auto* fl = new QVBoxLayout(frame);
    fl->addWidget(m_debug);

    m_version = new QLabel;
    m_version->setObjectName("lblver");

    auto* grid = new QGridLayout(this);
    grid->addWidget(m_menuLabel, 0, 0);
    grid->addWidget(m_menus, 0, 1);
    auto* included = new QLabel("Plugins Included");
    included->setObjectName("Label1_0");
    auto* available = new QLabel("Available Plugins");
    available->setObjectName("Label1_1");
    // PluginList holds the rows not selected, ExcludeList the selected ones.
    grid->addWidget(included, 1, 0);
    grid->addWidget(available, 1, 1);
    grid->addWidget(m_excluded, 2, 0);
    grid->addWidget(m_plugins, 2, 1);
    grid->addWidget(retrieve, 3, 1);
    grid->addWidget(frame, 3, 0);
    grid->addWidget(m_version, 4, 0);
    refresh();
}

void frmSetupDialog::refresh()
{
    if (!m_model)
        return;
    frmSetup& m = *m_model;
    {
        QSignalBlocker block(m_menus);
        m_menus->clear();
        m_menus->addItems(m.aPluginForm);
        if (m.aPluginForm.isEmpty())
            m_menus->setEditText("Combo1");
    }
    m_menus->setVisible(m.aPluginFormVisible);
    m_menus->setEnabled(m.aPluginFormVisible);
    m_menuLabel->setVisible(m.aPluginFormVisible);
    m_menuLabel->setEnabled(m.aPluginFormVisible);
    m_plugins->clear();
    m_plugins->addItems(m.PluginList);
    m_excluded->clear();
    m_excluded->addItems(m.ExcludeList);
    m_debug->setChecked(m.aDebugLog != 0);
    m_version->setText(m.lblver);
}

void frmSetupDialog::closeEvent(QCloseEvent* event)
{
    if (!m_closing && m_model && frmSetup::instance() == m_model) {
        m_closing = true;
        frmSetup::Unload();
    }
    m_closing = true;
    QDialog::closeEvent(event);
}

// Escape closes as the close box does: the choices are saved.
void frmSetupDialog::reject()
{
    if (!m_closing && m_model && frmSetup::instance() == m_model) {
        m_closing = true;
        frmSetup::Unload();
    }
    QDialog::reject();
}
