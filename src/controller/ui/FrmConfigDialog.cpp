#include "FrmConfigDialog.h"
#include "host/ui/UiDisplay.h"

#include "controller/link/CommsLog.h"
#include "controller/PluginState.h"
#include "core/Globals.h"
#include "core/Shutdown.h"

#include <QApplication>

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {
QPointer<FrmConfigDialog> sDialog;

// Widths, in pixels, of the texts of one matrix box and one IR device entry:
// four columns of named variables and the dialog's buttons fit 1280x800.
constexpr int kBoxTextWidth = 240;
constexpr int kComboTextWidth = 420;

// A text shortened to `width` pixels, and with "&" shown as itself rather
// than as a keyboard shortcut ("&" is also a house code).
QString caption(const QWidget* w, const QString& text, int width)
{
    return w->fontMetrics().elidedText(text, Qt::ElideRight, width).replace('&', QStringLiteral("&&"));
}

// A tip showing a shortened text in full, never read as markup.
QString fullTip(const QString& shown, const QString& text)
{
    return shown.size() == text.size() + text.count('&') ? QString() : "<qt>" + text.toHtmlEscaped() + "</qt>";
}

QString indexed(const QString& name, int i)
{
    return name + "_" + QString::number(i);
}

QWidget* scrolled(QWidget* inner)
{
    auto* area = new QScrollArea;
    area->setWidget(inner);
    area->setWidgetResizable(true);
    return area;
}

// "Caption|pattern" of the common dialog as a Qt file filter.
QString qtFilter(const QString& filter)
{
    const QStringList parts = filter.split('|');
    if (parts.size() < 2)
        return filter;
    if (parts[0].contains('('))
        return parts[0];
    return parts[0] + " (" + parts[1] + ")";
}
} // namespace

void FrmConfigDialog::showDialog(bool modal)
{
    if (!UiDisplay::available()) {
        LogControllerError(kProgramName, QStringLiteral("Configure Interface: no display, the dialog cannot be shown"));
        return;
    }
    if (sDialog && sDialog->isVisible()) {
        sDialog->raise();
        sDialog->activateWindow();
        return;
    }
    FrmConfig& model = FrmConfig::Load();
    // A dialog closed a moment ago waits for its deletion: it is not reused.
    if (sDialog && sDialog->model() != &model)
        sDialog = nullptr;
    if (!sDialog) {
        sDialog = new FrmConfigDialog(model);
        sDialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    FrmConfigDialog* dialog = sDialog;
    dialog->refresh();
    if (modal) {
        dialog->setModal(true);
        // The model's unload closes the dialog, at once or when its running handler returns.
        Shutdown::WaitScope waiting(Shutdown::Wait::Prompt, [] { FrmConfig::Unload(); });
        dialog->exec();
    } else {
        dialog->show();
        dialog->raise();
        dialog->activateWindow();
    }
}

FrmConfigDialog* FrmConfigDialog::current()
{
    return sDialog.data();
}

FrmConfigDialog::FrmConfigDialog(FrmConfig& model, QWidget* parent) : QDialog(parent), m_model(&model)
{
    setObjectName("FrmConfig");
    setWindowTitle("Configure Interface");
    model.setPrompts(this);
    connect(&model, &FrmConfig::changed, this, &FrmConfigDialog::refresh);
    connect(&model, &FrmConfig::busyChanged, this, &FrmConfigDialog::setBusy);
    connect(&model, &FrmConfig::unloaded, this, &FrmConfigDialog::closeFromModel);

    m_tabs = new QTabWidget;
    m_tabs->setObjectName("SSTab1");
    m_tabs->addTab(generalTab(), "General");
    m_tabs->addTab(variablesTab(), "Variables");
    m_tabs->addTab(ioTab(), "I/O Devices");
    m_tabs->addTab(irTab(), "Infra Red Remap");
    m_tabs->addTab(qproTab(), "QPRO");

    auto* version = new QLabel;
    version->setObjectName("lblver");
    m_refreshers << [this, version] { version->setText(m_model->lblver); };
    auto* ok = button("OKButton", "Update", &FrmConfig::OKButton_Click);
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel");
    cancel->setObjectName("CancelButton");
    cancel->setAutoDefault(false);
    // Also taken while OK waits for the controller: it gives that wait up.
    connect(cancel, &QPushButton::clicked, this, [this] { cancelOrGiveUpWait(); });
    // What OK did not take, whichever tab it was on.
    auto* note = new QLabel;
    note->setObjectName("Note");
    note->setWordWrap(true);
    note->setTextFormat(Qt::PlainText);
    note->setStyleSheet("color: #b00000");
    note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // However long the note, the dialog keeps its height: past a few lines it scrolls.
    auto* noteArea = new QScrollArea;
    noteArea->setObjectName("NoteArea");
    noteArea->setWidget(note);
    noteArea->setWidgetResizable(true);
    noteArea->setFrameShape(QFrame::NoFrame);
    noteArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    noteArea->setMaximumHeight(note->fontMetrics().lineSpacing() * 4 + 6);
    m_refreshers << [this, note, noteArea] {
        note->setText(m_model->Note);
        note->setVisible(!m_model->Note.isEmpty());
        noteArea->setVisible(!m_model->Note.isEmpty());
    };
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(version);
    bottom->addWidget(noteArea, 1);
    bottom->addStretch();
    bottom->addWidget(ok);
    bottom->addWidget(cancel);

    m_body = new QWidget;
    auto* body = new QVBoxLayout(m_body);
    body->setContentsMargins(0, 0, 0, 0);
    body->addWidget(m_tabs);
    body->addLayout(bottom);
    m_cancel = cancel;
    m_ok = ok;
    m_refreshers << [this] { setBusy(m_model->busy()); };
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_body);
    resize(1180, 720);
    setBusy(model.busy());
    refresh();
}

FrmConfigDialog::~FrmConfigDialog()
{
    if (m_model)
        m_model->setPrompts(nullptr);
}

template <class F>
void FrmConfigDialog::act(F&& f)
{
    // A handler already running (waiting or asking) takes no second click.
    if (!m_model || m_model->busy())
        return;
    f(*m_model);
}

void FrmConfigDialog::setBusy(bool busy)
{
    if (m_tabs)
        m_tabs->setEnabled(!busy);
    if (m_ok)
        m_ok->setEnabled(!busy);
    // A wait for the controller can be given up: Cancel stays at hand.
    if (m_cancel)
        m_cancel->setEnabled(!busy || (m_model && m_model->waitingForController()));
}

bool FrmConfigDialog::cancelOrGiveUpWait()
{
    if (!m_model || FrmConfig::instance() != m_model)
        return false;
    if (m_model->waitingForController()) {
        m_model->CancelButton_Click();  // ends the wait; the dialog goes once OK has returned
        return true;
    }
    if (m_model->busy())
        return false;
    m_model->CancelButton_Click();
    return true;
}

void FrmConfigDialog::closeFromModel()
{
    if (m_closing)
        return;
    m_closing = true;
    close();
}

QLineEdit* FrmConfigDialog::text(const QString& name, QString FrmConfig::*field)
{
    auto* edit = new QLineEdit;
    edit->setObjectName(name);
    connect(edit, &QLineEdit::textEdited, this, [this, field](const QString& t) { act([&](FrmConfig& m) { m.*field = t; }); });
    m_refreshers << [this, edit, field] {
        if (edit->text() != m_model->*field)
            edit->setText(m_model->*field);
    };
    return edit;
}

QCheckBox* FrmConfigDialog::check(const QString& name, const QString& caption, int FrmConfig::*field)
{
    auto* box = new QCheckBox(caption);
    box->setObjectName(name);
    connect(box, &QCheckBox::clicked, this, [this, field](bool on) { act([&](FrmConfig& m) { m.*field = on ? 1 : 0; }); });
    m_refreshers << [this, box, field] { box->setChecked(m_model->*field != 0); };
    return box;
}

QPushButton* FrmConfigDialog::button(const QString& name, const QString& caption, void (FrmConfig::*handler)())
{
    auto* b = new QPushButton(caption);
    b->setObjectName(name);
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, [this, handler] { act([&](FrmConfig& m) { (m.*handler)(); }); });
    return b;
}

QWidget* FrmConfigDialog::generalTab()
{
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);

    auto* link = new QGroupBox("Connectivity");
    auto* lf = new QGridLayout(link);
    lf->addWidget(new QLabel("Serial Comm Port"), 0, 0);
    lf->addWidget(text("aCommPort", &FrmConfig::aCommPort), 0, 1);
    lf->addWidget(new QLabel("Serial Comm IP"), 1, 0);
    lf->addWidget(text("aSerialIP", &FrmConfig::aSerialIP), 1, 1);
    lf->addWidget(new QLabel("Poll Interval for variables"), 2, 0);
    auto* poll = new QHBoxLayout;
    poll->addWidget(text("TxtPoll", &FrmConfig::TxtPoll));
    poll->addWidget(new QLabel("Milliseconds"));
    lf->addLayout(poll, 2, 1);
    lf->addWidget(new QLabel, 3, 0, 1, 2);
    auto* portOpen = new QCheckBox("Com Open");
    portOpen->setObjectName("PortOpen");
    portOpen->setEnabled(false); // shows the link; the buttons change it
    m_refreshers << [this, portOpen] { portOpen->setChecked(m_model->PortOpen != 0); };
    lf->addWidget(portOpen, 4, 0);
    auto* disconnect = button("Disconnect", "Disconnect from Quillon", &FrmConfig::Disconnect_Click);
    m_refreshers << [this, disconnect] {
        disconnect->setText(m_model->DisconnectCaption);
        disconnect->setEnabled(m_model->DisconnectEnabled);
    };
    lf->addWidget(disconnect, 4, 1);
    lf->addWidget(button("aClock", "Set Clock", &FrmConfig::aClock_Click), 5, 1);
    grid->addWidget(link, 0, 0);

    auto* units = new QGroupBox("Controller && I/O Units");
    units->setProperty("caption", "Controller & I/O Units");
    auto* uf = new QVBoxLayout(units);
    uf->addWidget(new QLabel("Units discovered:"));
    auto* list = new QListWidget;
    list->setObjectName("List1");
    m_refreshers << [this, list] {
        list->clear();
        list->addItems(m_model->List1);
    };
    uf->addWidget(list);
    uf->addWidget(check("ChkInvert", "Invert Inputs", &FrmConfig::ChkInvert));
    uf->addWidget(button("Command1", "Create Kestrel Device", &FrmConfig::Command1_Click));
    grid->addWidget(units, 0, 1, 2, 1);

    auto* logging = new QGroupBox("Logging");
    auto* gf = new QVBoxLayout(logging);
    gf->addWidget(check("ChkLogErrors", "Log checksum errors and serial timeouts", &FrmConfig::ChkLogErrors));
    gf->addWidget(check("ChkLogComms", "Log comms to quillon.log", &FrmConfig::ChkLogComms));
    grid->addWidget(logging, 1, 0);

    auto* ir = new QGroupBox("IR Recognition");
    auto* irf = new QVBoxLayout(ir);
    irf->addWidget(check("aIRRecognitionForward", "Do Not Forward IR Recognition to Korvane",
                         &FrmConfig::aIRRecognitionForward));
    irf->addWidget(check("aX10Xmit", "Process X10 Transmit from Quillon", &FrmConfig::aX10Xmit));
    grid->addWidget(ir, 2, 0);

    auto* http = new QGroupBox("HTTP / Browser Selections");
    auto* hf = new QGridLayout(http);
    hf->addWidget(new QLabel("HTTP Server Port"), 0, 0);
    hf->addWidget(text("aServerPort", &FrmConfig::aServerPort), 0, 1);
    hf->addWidget(new QLabel("Style Sheet"), 1, 0);
    hf->addWidget(text("aStyleSheet", &FrmConfig::aStyleSheet), 1, 1);
    hf->addWidget(new QLabel("Background Color"), 2, 0);
    hf->addWidget(text("abca", &FrmConfig::abca), 2, 1);
    hf->addWidget(check("showInMenu", "Show Setup Page on Homeser Title Bar", &FrmConfig::showInMenu), 3, 0, 1, 2);
    grid->addWidget(http, 2, 1);
    return page;
}

QWidget* FrmConfigDialog::variablesTab()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* codes = new QHBoxLayout;
    auto* hc1 = new QLabel;
    hc1->setObjectName("aVariableHouseCode1");
    auto* hc2 = new QLabel;
    hc2->setObjectName("aVariableHouseCode2");
    m_refreshers << [this, hc1, hc2] {
        hc1->setText(m_model->aVariableHouseCode1);
        hc2->setText(m_model->aVariableHouseCode2);
    };
    codes->addWidget(hc1);
    codes->addWidget(hc2);
    layout->addLayout(codes);

    auto* inner = new QWidget;
    auto* grid = new QGridLayout(inner);
    grid->setVerticalSpacing(1);
    for (int v = 0; v < 128; ++v) {
        auto* box = new QCheckBox;
        box->setObjectName(indexed("Check1", v));
        connect(box, &QCheckBox::clicked, this, [this, v](bool on) { act([&](FrmConfig& m) { m.Check1_Click(v, on); }); });
        m_check1 << box;
        // The first house code's variables on the left, the second's on the right.
        grid->addWidget(box, v % 32, v / 32);
    }
    m_refreshers << [this] {
        for (int v = 0; v < 128; ++v) {
            const QString& full = m_model->Check1Caption[size_t(v)];
            const QString shown = caption(m_check1[v], full, kBoxTextWidth);
            m_check1[v]->setText(shown);
            m_check1[v]->setToolTip(fullTip(shown, full));
            m_check1[v]->setChecked(m_model->matrix.Check1[size_t(v)] == 1);
        }
    };
    layout->addWidget(scrolled(inner), 1);
    layout->addWidget(button("aCreateVariables", "Create and Delete Variables", &FrmConfig::aCreateVariables_Click));
    return page;
}

QWidget* FrmConfigDialog::ioTab()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* none = new QLabel("No I/O units were found on the controller.");
    none->setObjectName("NoUnits");
    layout->addWidget(none);
    auto* inner = new QWidget;
    auto* rows = new QVBoxLayout(inner);
    for (int r = 0; r < 16; ++r) {
        auto* row = new QGroupBox;
        row->setObjectName(indexed("IORow", r));
        auto* rl = new QGridLayout(row);
        auto* house = new QLabel;
        house->setObjectName(indexed("aIOHouse", r));
        auto* type = new QLabel;
        type->setObjectName(indexed("aIOUnit", r));
        auto* invert = new QCheckBox("Invert");
        invert->setObjectName(indexed("aInvert", r));
        connect(invert, &QCheckBox::clicked, this,
                [this, r](bool on) { act([&](FrmConfig& m) { m.aInvert_Click(r, on); }); });
        m_invert << invert;
        rl->addWidget(type, 0, 0);
        rl->addWidget(house, 0, 1);
        rl->addWidget(invert, 0, 2);
        for (int p = 0; p < 16; ++p) {
            const int i = 16 * r + p;
            auto* box = new QCheckBox;
            box->setObjectName(indexed("IOPoint", i));
            connect(box, &QCheckBox::clicked, this,
                    [this, i](bool on) { act([&](FrmConfig& m) { m.IOPoint_Click(i, on); }); });
            m_ioPoint << box;
            rl->addWidget(box, 1 + p / 4, p % 4);
        }
        m_rows << row;
        rows->addWidget(row);
        m_refreshers << [this, r, row, house, type, invert] {
            FrmConfig& m = *m_model;
            row->setVisible(m.RowVisible[size_t(r)]);
            const int unit = r < m.matrix.rows.size() ? m.matrix.rows[r] : 0;
            row->setTitle("Unit " + QString::number(unit));
            type->setText(m.aIOUnit[size_t(r + 32)] + m.aIOUnit[size_t(r + 16)] + m.aIOUnit[size_t(r)]);
            house->setText(m.aIOHouse[size_t(r)].isEmpty() ? QString("House Code: new")
                                                           : "House Code " + m.aIOHouse[size_t(r)]);
            invert->setChecked(m.matrix.aInvert[size_t(r)] != 0);
            for (int p = 0; p < 16; ++p) {
                const int i = 16 * r + p;
                const QString shown = caption(m_ioPoint[i], m.IOPointCaption[size_t(i)], kBoxTextWidth);
                m_ioPoint[i]->setText(shown);
                m_ioPoint[i]->setToolTip(fullTip(shown, m.IOPointCaption[size_t(i)]));
                m_ioPoint[i]->setChecked(m.matrix.IOPoint[size_t(i)] == 1);
                m_ioPoint[i]->setVisible(m.IOPointVisible[size_t(i)]);
            }
        };
    }
    rows->addStretch();
    m_refreshers << [this, none] { none->setVisible(!m_model->MatrixHeadingsVisible); };
    layout->addWidget(scrolled(inner), 1);
    layout->addWidget(button("ButCreate", "Create and Delete  I/O Point Devices ", &FrmConfig::ButCreate_Click));
    return page;
}

QWidget* FrmConfigDialog::irTab()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* device = new QComboBox;
    device->setObjectName("aIRDevice");
    // The names come from irlbl.cfg: however long one is, the box keeps its width.
    device->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    device->setMinimumContentsLength(32);
    connect(device, QOverload<int>::of(&QComboBox::activated), this,
            [this](int index) { act([&](FrmConfig& m) { m.aIRDevice_Click(index); }); });
    m_refreshers << [this, device] {
        QSignalBlocker block(device);
        QStringList names;
        for (int i = 0; i < m_model->aIRDevice.size(); ++i)
            names << device->fontMetrics().elidedText(QString::number(i) + "  " + m_model->aIRDevice[i],
                                                      Qt::ElideRight, kComboTextWidth);
        QStringList current;
        for (int i = 0; i < device->count(); ++i)
            current << device->itemText(i);
        if (current != names) {
            device->clear();
            device->addItems(names);
        }
        device->setCurrentIndex(m_model->aIRDeviceIndex);
    };
    layout->addWidget(device);
    auto* inner = new QWidget;
    auto* grid = new QGridLayout(inner);
    grid->setVerticalSpacing(1);
    for (int half = 0; half < 2; ++half) {
        grid->addWidget(new QLabel("Tessera IR Definition"), 0, half * 2);
        grid->addWidget(new QLabel("Remap to IR Loc"), 0, half * 2 + 1);
    }
    for (int i = 0; i < 36; ++i) {
        auto* label = new QLabel;
        label->setObjectName(indexed("aIRLabel", i));
        label->setTextFormat(Qt::PlainText);
        auto* remap = new QLineEdit;
        remap->setObjectName(indexed("aRemap", i));
        remap->setMaxLength(8);
        remap->setMaximumWidth(90);
        connect(remap, &QLineEdit::textEdited, this,
                [this, i](const QString& t) { act([&](FrmConfig& m) { m.aRemap_Change(i, t); }); });
        m_irLabel << label;
        m_remap << remap;
        grid->addWidget(label, 1 + i % 18, (i / 18) * 2);
        grid->addWidget(remap, 1 + i % 18, (i / 18) * 2 + 1);
    }
    m_refreshers << [this] {
        for (int i = 0; i < 36; ++i) {
            m_irLabel[i]->setText(m_model->aIRLabel[size_t(i)]);
            m_irLabel[i]->setToolTip("<qt>" + gPlugin.IRLabels.value(m_model->irPageOffset() + i).toHtmlEscaped() + "</qt>");
            if (m_remap[i]->text() != m_model->aRemap[size_t(i)])
                m_remap[i]->setText(m_model->aRemap[size_t(i)]);
        }
    };
    layout->addWidget(scrolled(inner), 1);
    return page;
}

QWidget* FrmConfigDialog::qproTab()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);

    auto* files = new QGroupBox("QPRO Files");
    auto* ff = new QGridLayout(files);
    const struct
    {
        const char* name;
        const char* caption;
        QString FrmConfig::*field;
        void (FrmConfig::*browse)();
    } rows[] = {{"aProjectFile", "Project File Path", &FrmConfig::aProjectFile, &FrmConfig::BrowseProjectFile},
                {"aQPROexe", "cpuqx.exe Path", &FrmConfig::aQPROexe, &FrmConfig::BrowseQPROexe},
                {"aIRProExe", "IRpro.exe Path", &FrmConfig::aIRProExe, &FrmConfig::BrowseIRProExe}};
    int r = 0;
    for (const auto& row : rows) {
        ff->addWidget(new QLabel(row.caption), r, 0);
        QLineEdit* edit = text(row.name, row.field);
        // A click on the box opens the file dialog, as its button does.
        edit->installEventFilter(this);
        edit->setProperty("browse", QVariant::fromValue(r));
        ff->addWidget(edit, r, 1);
        ff->addWidget(button(QString(row.name) + "Browse", "...", row.browse), r, 2);
        ++r;
    }
    layout->addWidget(files);

    auto* apps = new QGroupBox("Applications");
    auto* af = new QGridLayout(apps);
    af->addWidget(button("aQPRO", "QPRO", &FrmConfig::aQPRO_Click), 0, 0);
    af->addWidget(button("aIRPro", "IRPro", &FrmConfig::aIRPro_Click), 0, 1);
    auto* note = new QLabel("Script Korvane_QPROSync.txt is called before and after QPRO execution.\n"
                            "Note that Korvane will not communicate with Quillon while QPRO is running.  "
                            "Communications will be restored when QPRO closes.");
    note->setWordWrap(true);
    af->addWidget(note, 1, 0, 1, 2);
    layout->addWidget(apps);

    auto* sync = new QGroupBox("Synchronize System Map and Tessera Definitions");
    auto* sf = new QGridLayout(sync);
    auto* tessera = new QRadioButton("Tessera Master");
    tessera->setObjectName("aSyncMaster_0");
    auto* qpro = new QRadioButton("QPRO Master");
    qpro->setObjectName("aSyncMaster_1");
    connect(tessera, &QRadioButton::clicked, this, [this] { act([](FrmConfig& m) { m.aSyncMaster = 0; }); });
    connect(qpro, &QRadioButton::clicked, this, [this] { act([](FrmConfig& m) { m.aSyncMaster = 1; }); });
    m_refreshers << [this, tessera, qpro] {
        tessera->setChecked(m_model->aSyncMaster == 0);
        qpro->setChecked(m_model->aSyncMaster == 1);
    };
    sf->addWidget(tessera, 0, 0);
    sf->addWidget(qpro, 0, 1);
    sf->addWidget(button("aSynchronize", "Synchronize Korvane to QPRO", &FrmConfig::aSynchronize_Click), 1, 0, 1, 2);
    layout->addWidget(sync);

    auto* include = new QGroupBox("Include Following for Synchronization");
    auto* inf = new QHBoxLayout(include);
    inf->addWidget(check("aIncludeVariables", "Variables", &FrmConfig::aIncludeVariables));
    inf->addWidget(check("aIncludeX10", "X10", &FrmConfig::aIncludeX10));
    inf->addWidget(check("aIncludeIO", "I/O Units", &FrmConfig::aIncludeIO));
    inf->addWidget(check("aIncludeIR", "IR Labels", &FrmConfig::aIncludeIR));
    auto* messages = check("aIncludeMessages", "Messages", &FrmConfig::aIncludeMessages);
    connect(messages, &QCheckBox::clicked, this, [this] { act([](FrmConfig& m) { m.aIncludeMessages_Click(); }); });
    inf->addWidget(messages);
    layout->addWidget(include);
    layout->addStretch();
    return page;
}

bool FrmConfigDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease && watched->property("browse").isValid()) {
        static void (FrmConfig::*const browse[])() = {&FrmConfig::BrowseProjectFile, &FrmConfig::BrowseQPROexe,
                                                       &FrmConfig::BrowseIRProExe};
        const int which = watched->property("browse").toInt();
        if (which >= 0 && which < 3)
            act([&](FrmConfig& m) { (m.*browse[which])(); });
    }
    return QDialog::eventFilter(watched, event);
}

void FrmConfigDialog::refresh()
{
    if (!m_model)
        return;
    for (const auto& f : m_refreshers)
        f();
}

void FrmConfigDialog::closeEvent(QCloseEvent* event)
{
    // The close box is a Cancel; while a handler runs it is not taken.
    if (!m_closing && m_model && FrmConfig::instance() == m_model) {
        if (m_model->busy()) {
            cancelOrGiveUpWait();
            event->ignore();
            return;
        }
        m_model->CancelButton_Click(); // its unload marks this dialog closing
        if (!m_closing) {
            event->ignore();
            return;
        }
    }
    m_closing = true;
    QDialog::closeEvent(event);
}

void FrmConfigDialog::reject()
{
    if (m_closing || !m_model || FrmConfig::instance() != m_model) {
        QDialog::reject();
        return;
    }
    cancelOrGiveUpWait();
}

bool FrmConfigDialog::askYesNo(const QString& text)
{
    QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Question, windowTitle(), text,
                                                QMessageBox::Yes | QMessageBox::No, this);
    box->setDefaultButton(QMessageBox::Yes);
    int answer = QMessageBox::No;
    {
        Shutdown::WaitScope waiting(Shutdown::Wait::Prompt, [box] {
            if (box)
                box->reject();
        });
        answer = box->exec();
    }
    // Events ran while the box was up: neither it nor this dialog is taken for granted.
    if (box)
        delete box.data();
    return answer == QMessageBox::Yes;
}

void FrmConfigDialog::remind(const QString& text)
{
    QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Information, windowTitle(), text, QMessageBox::Ok, this);
    {
        Shutdown::WaitScope waiting(Shutdown::Wait::Prompt, [box] {
            if (box)
                box->reject();
        });
        box->exec();
    }
    if (box)
        delete box.data();
}

QString FrmConfigDialog::chooseFile(const QString& filter, const QString& current)
{
    Shutdown::WaitScope waiting(Shutdown::Wait::Prompt, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    return QFileDialog::getOpenFileName(this, windowTitle(), current, qtFilter(filter));
}
