#include "FrmConfig.h"

#include "controller/link/CommsLog.h"
#include "core/PageStyle.h"
#include "controller/DeviceCreation.h"
#include "controller/FrmTimer.h"
#include "controller/IRFiles.h"
#include "controller/PluginHost.h"
#include "controller/PluginSettings.h"
#include "core/IniText.h"
#include "controller/PluginState.h"
#include "controller/PointMap.h"
#include "controller/UnitMappings.h"

#include "automation/AnsiCodePage.h"
#include "automation/VbString.h"
#include "core/Globals.h"
#include "core/SavedFiles.h"
#include "core/Shutdown.h"
#include "host/HostGlobals.h"
#include "host/HostHooks.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>

#include <cmath>

namespace {
using PluginHost::get;

QPointer<FrmConfig> sInstance;

const QString kHostFile = QStringLiteral("tvkXapKorvane.ini");
// Stands for a key the file does not hold (INI values never carry control characters).
const QString kMissing = QStringLiteral("\x01");

int intOf(const QString& text)
{
    const double v = VbString::Val(QString(text).remove('"'));
    return std::isfinite(v) && std::fabs(v) < 32768 ? int(v) : 0;
}

QString hostSetting(const QString& key, const QString& def)
{
    return PluginSettings::GetPluginSetting(kHostFile, PluginSettings::kSection, key, def).remove('"');
}

// A key is written only when the file does not hold it yet or holds another
// value, so an untouched setting keeps its exact stored form.
void saveIfChanged(const QString& file, const QString& key, const QString& value)
{
    const QString stored = PluginSettings::GetPluginSetting(file, PluginSettings::kSection, key, kMissing);
    if (stored == kMissing ? value.isEmpty() : QString(stored).remove('"') == value)
        return; // an empty value is stored as no key at all
    PluginSettings::SavePluginSetting(file, PluginSettings::kSection, key, value);
}

void savePlugin(const QString& key, const QString& value)
{
    saveIfChanged(PluginSettings::kFile, key, value);
}

void saveHost(const QString& key, const QString& value)
{
    saveIfChanged(kHostFile, key, value);
}

QString box(int value)
{
    return value != 0 ? QStringLiteral("1") : QStringLiteral("0");
}

QString programVersion()
{
    const QString v = QCoreApplication::applicationVersion();
    return v.isEmpty() ? QStringLiteral("1.0.0") : v;
}

// The three characters shown down a row of the I/O matrix for a unit type.
QString unitTypeLabel(int type)
{
    switch (type) {
    case 6: return QStringLiteral(" IR");
    case 11: return QStringLiteral(" 16");
    case 12: return QStringLiteral("16I");
    case 13: return QStringLiteral("RLY");
    default: return QStringLiteral("   ");
    }
}

QString unitSuffix(int type)
{
    switch (type) {
    case 6: return QStringLiteral(" SIO16IR");
    case 11: return QStringLiteral(" SIO16");
    case 12: return QStringLiteral(" SIO16I");
    case 13: return QStringLiteral(" RLY-8");
    default: return QString();
    }
}

// "code location name" of an existing device, "" when there is none.
QString deviceLabel(const QString& code)
{
    QString label;
    PluginHost::ignoring([&] {
        const int ref = PluginHost::DeviceExists(code);
        if (ref < 0)
            return;
        ObjectPtr dev = PluginHost::GetDevice(ref);
        label = get(dev, "hc").toString() + get(dev, "DC").toString() + " " + get(dev, "location").toString() + " "
            + get(dev, "name").toString();
    });
    return label;
}

using PluginSettings::wholeNumber;

// Each character is one the settings files' code page reads back as itself.
bool codePageOnly(const QString& text)
{
    for (const QChar c : text)
        if (AnsiCodePage::toUnicode(AnsiCodePage::fromUnicode(c)) != c)
            return false;
    return true;
}

bool hasControl(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() < 0x20)
            return true;
    return false;
}

// A value as the dialog's note quotes it: one line, and short.
QString quoted(const QString& value)
{
    QString v = value;
    for (QChar& c : v)
        if (c.unicode() < 0x20)
            c = QLatin1Char(' ');
    if (v.size() > 40)
        v = v.left(40) + QStringLiteral("...");
    return "\"" + v + "\"";
}

// An IR location a remap can name: empty (no remap) or 0 to 1023.
bool remapTarget(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return true;
    const int v = wholeNumber(t, 0);
    return v >= 0 && v <= 1023;
}

// Ascending numbers as ranges, "0-35, 40, 72-75"; a long list ends in "...".
QString ranges(const QList<int>& numbers)
{
    QStringList parts;
    for (qsizetype i = 0; i < numbers.size();) {
        qsizetype j = i;
        while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1)
            ++j;
        if (parts.size() == 8) {
            parts << QStringLiteral("...");
            break;
        }
        parts << (i == j ? QString::number(numbers[i]) : QString::number(numbers[i]) + "-" + QString::number(numbers[j]));
        i = j + 1;
    }
    return parts.join(QStringLiteral(", "));
}

// Holds the updating flag while a handler sets controls itself.
struct Updating
{
    bool& flag;
    bool old;
    explicit Updating(bool& f) : flag(f), old(f) { flag = true; }
    ~Updating() { flag = old; }
};
} // namespace

FrmConfigPrompts::~FrmConfigPrompts() = default;

// Marks one of the dialog's handlers as running for its whole extent.
class FrmConfigBusy
{
public:
    explicit FrmConfigBusy(FrmConfig& form) : m_form(&form) { form.enterHandler(); }
    ~FrmConfigBusy()
    {
        if (m_form)
            m_form->leaveHandler();
    }
    FrmConfigBusy(const FrmConfigBusy&) = delete;
    FrmConfigBusy& operator=(const FrmConfigBusy&) = delete;

private:
    QPointer<FrmConfig> m_form;
};

FrmConfig::FrmConfig()
{
    m_irMap = QStringList(1008);
}

FrmConfig::~FrmConfig() = default;

FrmConfig* FrmConfig::instance()
{
    return sInstance.data();
}

FrmConfig& FrmConfig::Load()
{
    if (!sInstance) {
        sInstance = new FrmConfig();
        sInstance->Form_Load();
    }
    return *sInstance;
}

void FrmConfig::Unload()
{
    FrmConfig* form = sInstance.data();
    if (!form || form->m_unloading)
        return;
    if (form->m_busy > 0) {
        // The running handler still uses the form: it goes when that returns.
        form->m_unloadPending = true;
        return;
    }
    form->m_unloading = true;
    form->m_idleActions.clear();
    // The unload's own questions keep the dialog from taking other clicks.
    ++form->m_busy;
    emit form->busyChanged(true);
    form->Form_Unload();
    --form->m_busy;
    sInstance = nullptr;
    emit form->unloaded();
    // Unloading may be asked from inside one of the form's own handlers.
    if (QCoreApplication::instance())
        form->deleteLater();
    else
        delete form;
}

std::unique_ptr<FrmConfig> FrmConfig::Standalone()
{
    std::unique_ptr<FrmConfig> model(new FrmConfig());
    model->LoadVariablesMatrix();
    model->m_ready = true;
    return model;
}

void FrmConfig::RefreshMatrices()
{
    // The boxes are plain data and are brought up to date at once, so that a
    // handler that acts on them after its question or wait acts on the
    // devices as they are; the widgets show them when the handler is done.
    const DeviceSelection edited = matrix;
    const DeviceSelection before = m_loadedMatrix;
    LoadVariablesMatrix();
    auto keepEdits = [](auto& now, const auto& mine, const auto& old) {
        for (size_t i = 0; i < now.size(); ++i)
            if (mine[i] != old[i])
                now[i] = mine[i];
    };
    keepEdits(matrix.Check1, edited.Check1, before.Check1);
    // Point and invert boxes belong to rows; they carry over while the rows are the same units.
    if (edited.rows == matrix.rows && before.rows == matrix.rows) {
        keepEdits(matrix.IOPoint, edited.IOPoint, before.IOPoint);
        keepEdits(matrix.aInvert, edited.aInvert, before.aInvert);
    }
    whenIdle([this] { emit changed(); });
}

void FrmConfig::enterHandler()
{
    if (m_busy++ == 0)
        emit busyChanged(true);
}

void FrmConfig::leaveHandler()
{
    if (--m_busy > 0 || m_unloading)
        return;
    QPointer<FrmConfig> self(this);
    emit busyChanged(false);
    while (self && m_busy == 0 && !m_unloading && !m_idleActions.isEmpty())
        m_idleActions.takeFirst()();
    if (self && m_busy == 0 && m_unloadPending && !m_unloading) {
        m_unloadPending = false;
        if (sInstance == this)
            Unload();
    }
}

void FrmConfig::whenIdle(std::function<void()> action)
{
    if (m_unloading)
        return;
    if (m_busy > 0) {
        m_idleActions.append(std::move(action));
        return;
    }
    action();
}

// What OK and the create buttons changed reaches the disk now, not only at Exit.
void FrmConfig::flushToDisk()
{
    PluginHost::ignoring([] { PluginHost::callback("SaveDevices"); });
    flushSettings();
}

void FrmConfig::flushSettings()
{
    PluginHost::ignoring([] { PluginHost::hs("FlushIniCache"); });
}

void FrmConfig::noteFailedSaves(quint64 serial)
{
    const QList<SavedFiles::Failure> failed = SavedFiles::failuresSince(serial);
    if (failed.isEmpty())
        return;
    // The log already says why, per file; the note keeps the dialog open until its user saw it.
    QString line = SavedFiles::describe(failed);
    line[0] = line[0].toUpper();
    Note += (Note.isEmpty() ? QString() : QStringLiteral("\n")) + line + QStringLiteral("; the change is not on disk.");
}

bool FrmConfig::ask(const QString& text)
{
    return m_prompts ? m_prompts->askYesNo(text) : true;
}

void FrmConfig::remind(const QString& text)
{
    if (m_prompts)
        m_prompts->remind(text);
}

QString FrmConfig::chooseFile(const QString& filter, const QString& current)
{
    return m_prompts ? m_prompts->chooseFile(filter, current) : QString();
}

void FrmConfig::Form_Load()
{
    gPlugin.ConfigDialogOpen = true;
    m_updating = true;
    m_ready = false;
    const bool loaded = PluginHost::trapped("formConfig Load ", [&] {
        lblver = "Version " + programVersion();
        PortOpen = gPlugin.PortOpenFlag ? 1 : 0;
        showInMenu = intOf(PluginSettings::setting("showInMenu", "1"));
        aProjectFile = PluginSettings::setting("ProjectFile", "");
        aQPROexe = PluginSettings::setting("QPROFile", "");
        aIRProExe = PluginSettings::setting("IRPROFile", "");
        aIncludeVariables = intOf(PluginSettings::setting("IncludeVariables", "0"));
        aIncludeX10 = intOf(PluginSettings::setting("IncludeX10", "0"));
        aIncludeIO = intOf(PluginSettings::setting("IncludeIO", "0"));
        aIncludeIR = intOf(PluginSettings::setting("IncludeIR", "0"));
        aIncludeMessages = intOf(PluginSettings::setting("IncludeMessages", "0"));
        aX10Xmit = 1;
        TxtPoll = PluginSettings::setting("poll_interval", "2000").trimmed();
        const QString invert = PluginSettings::setting("invert", "0");
        aStyleSheet = hostSetting("StyleSheet", "StyleNoBody.css");
        abca = hostSetting("Background", "#000000");
        aServerPort = hostSetting("HTTPPort", "8010");
        aCommPort = hostSetting("CommPort", "1");
        aSerialIP = hostSetting("SerialIP", "");
        ChkInvert = VbString::Val(QString(invert).remove('"')) == 0 ? 0 : 1;
        ChkLogErrors = gPlugin.LogErrors == 1 ? 1 : 0;
        ChkLogComms = gPlugin.LogComms != 0 ? 1 : 0;

        List1 = QStringList{QStringLiteral("Unit 0 Quillon/CPU-QX/Kestrel")};
        for (int u = 0; u < 128; ++u) {
            const QString suffix = unitSuffix(gPlugin.UnitTypes[size_t(u)]);
            if (!suffix.isEmpty())
                List1 << "Unit " + QString::number(u + 1) + suffix; // numbered by address
        }
        DeviceCreation::DiscoverDevices();
        aIRRecognitionForward = intOf(PluginSettings::setting("Recognition", "0"));
        UpdateDisconnectCaption();

        m_ready = IRFiles::ReadIRCfg();
        if (m_ready) {
            m_pageOffset = 0;
            m_irMap = gPlugin.IRMapEntries;
            while (m_irMap.size() < 1008)
                m_irMap.append(QString());
            aIRDevice = gPlugin.IRGroupNames;
            aIRDeviceIndex = 0;
            for (int i = 0; i < 36; ++i) {
                aIRLabel[size_t(i)] = (QString::number(i) + " : " + gPlugin.IRLabels.value(i)).left(19);
                aRemap[size_t(i)] = m_irMap.value(i);
            }
            LoadVariablesMatrix();
        }
    });
    if (!loaded) {
        emit changed();
        return; // the handlers that skip their work while updating keep doing so
    }
    PluginHost::ignoring([] { PluginHost::callback("ForceFront", {Variant(0)}); });
    m_loaded = shownValues();
    m_varsChanged = false;
    m_ioChanged = false;
    m_irLabelsChanged = false;
    m_updating = false;
    emit changed();
}

// What each control shows, by control name: at load, the settings as read.
QHash<QString, QString> FrmConfig::shownValues() const
{
    return {{"TxtPoll", TxtPoll},
            {"aCommPort", aCommPort},
            {"aServerPort", aServerPort},
            {"aSerialIP", aSerialIP},
            {"aStyleSheet", aStyleSheet},
            {"abca", abca},
            {"aProjectFile", aProjectFile},
            {"aQPROexe", aQPROexe},
            {"aIRProExe", aIRProExe},
            {"showInMenu", box(showInMenu)},
            {"ChkInvert", box(ChkInvert)},
            {"ChkLogErrors", box(ChkLogErrors)},
            {"ChkLogComms", box(ChkLogComms)},
            {"aIRRecognitionForward", box(aIRRecognitionForward)},
            {"aX10Xmit", box(aX10Xmit)},
            {"aIncludeVariables", box(aIncludeVariables)},
            {"aIncludeX10", box(aIncludeX10)},
            {"aIncludeIO", box(aIncludeIO)},
            {"aIncludeIR", box(aIncludeIR)},
            {"aIncludeMessages", box(aIncludeMessages)}};
}

// The dialog's user changed the control since the dialog loaded (or since
// its last save). Only such controls are written: the status page may have
// saved the same settings meanwhile, and OK must not put back what the dialog
// happened to show.
bool FrmConfig::edited(const QString& control) const
{
    return shownValues().value(control) != m_loaded.value(control);
}

// After a control's value was written it is the dialog's starting point.
void FrmConfig::taken(const QString& control)
{
    m_loaded.insert(control, shownValues().value(control));
}

void FrmConfig::refuse(const QString& control, QString& value, const QString& why)
{
    const QString old = m_loaded.value(control);
    Note += (Note.isEmpty() ? QString() : QStringLiteral("\n")) + why + "; " + quoted(value) + " was not taken, "
        + quoted(old) + " is kept.";
    value = old;
}

// Text the settings files' code page cannot hold would read back changed.
void FrmConfig::checkText(const QString& control, QString& value)
{
    if (value == m_loaded.value(control))
        return;
    if (!codePageOnly(value) || hasControl(value))
        refuse(control, value,
               "This text can hold only Windows-1252 characters on one line (the settings files are Windows-1252)");
    else if (const QString fault = IniText::valueFault(value); !fault.isEmpty())
        refuse(control, value, "This text " + fault); // a double quote, or a blank at its end
}

void FrmConfig::checkPort(const QString& control, QString& value, bool devicePathAllowed)
{
    if (value == m_loaded.value(control) && !(control == "aCommPort" && aSerialIP != m_loaded.value("aSerialIP")))
        return;
    if (wholeNumber(value, 1) > 0) {
        value = value.trimmed();
        return;
    }
    const QString t = value.trimmed();
    if (devicePathAllowed && t.startsWith('/') && codePageOnly(t) && !hasControl(t)) {
        value = t;
        return;
    }
    refuse(control, value,
           devicePathAllowed ? QStringLiteral("A port must be a whole number from 1 to 65535 or a device path")
                             : QStringLiteral("A port must be a whole number from 1 to 65535"));
}

// The link takes no server port below 101: such a pair would be stored and
// never used. Each half this dialog's user changed is refused, so that the
// file keeps the pair it had.
void FrmConfig::checkLinkPair()
{
    const int port = wholeNumber(aCommPort, 1);
    if (!aSerialIP.contains('.') || port < 1 || port > 100)
        return;
    const QString why = QStringLiteral("A serial-device server's port is from 101 to 65535");
    if (aCommPort != m_loaded.value("aCommPort"))
        refuse("aCommPort", aCommPort, why);
    if (aSerialIP != m_loaded.value("aSerialIP"))
        refuse("aSerialIP", aSerialIP, why);
}

void FrmConfig::checkPoll()
{
    if (TxtPoll.trimmed() == m_loaded.value("TxtPoll").trimmed())
        return;
    if (PluginSettings::pollInterval(TxtPoll) >= 0) {
        TxtPoll = TxtPoll.trimmed();
        return;
    }
    refuse("TxtPoll", TxtPoll, PluginSettings::kPollIntervalRule);
}

// A remap names an IR location; anything else would shift or break irmap.cfg.
// The refused ones make one line of the note, however many there are.
void FrmConfig::checkRemaps()
{
    QList<int> refused;
    for (int i = 0; i < 1008; ++i) {
        const QString old = gPlugin.IRMapEntries.value(i);
        QString& entry = m_irMap[i];
        if (entry == old)
            continue;
        if (remapTarget(entry)) {
            entry = entry.trimmed();
            continue;
        }
        refused << i;
        entry = old;
    }
    for (int i = 0; i < 36; ++i)
        aRemap[size_t(i)] = m_irMap.value(m_pageOffset + i);
    if (refused.isEmpty())
        return;
    const QString what = refused.size() == 1 ? QStringLiteral("1 remap was") : QString::number(refused.size()) + " remaps were";
    const QString line = what + " not taken: " + (refused.size() == 1 ? QStringLiteral("location ") : QStringLiteral("locations "))
        + ranges(refused) + " (a remap is an IR location from 0 to 1023 or empty; the stored ones are kept).";
    LogControllerError(kProgramName, "FrmConfig OK: " + line);
    Note += (Note.isEmpty() ? QString() : QStringLiteral("\n")) + line;
}

void FrmConfig::OKButton_Click()
{
    using PluginHost::ignoring;
    FrmConfigBusy busy(*this);
    QPointer<FrmConfig> self(this);
    Note.clear();
    const quint64 saveSerial = SavedFiles::failureSerial();
    if (m_ready) {
        checkText("aStyleSheet", aStyleSheet);
        checkText("abca", abca);
        checkText("aSerialIP", aSerialIP);
        checkText("aProjectFile", aProjectFile);
        checkText("aQPROexe", aQPROexe);
        checkText("aIRProExe", aIRProExe);
        checkPort("aServerPort", aServerPort, false);
        checkPort("aCommPort", aCommPort, !aSerialIP.contains('.'));
        checkLinkPair();
        checkPoll();
        if (m_irLabelsChanged) {
            for (int i = 0; i < 36; ++i)
                m_irMap[m_pageOffset + i] = aRemap[size_t(i)];
            checkRemaps();
        }
        // A refused style sheet or background is logged and noted; the stored one stays (the one in
        // use when even the stored one is refused), in the file and on the dialog.
        if (QString kept = m_loaded.value("aStyleSheet"); !PageStyle::TakeStyleSheet(kept, aStyleSheet, QStringLiteral("FrmConfig OK"))) {
            refuse("aStyleSheet", aStyleSheet,
                   "The style sheet must be a relative path under the HTML folder (no \"//\", \":\" or \"..\")");
            if (!PageStyle::IsSafeStyleSheet(aStyleSheet))
                aStyleSheet = gStyleSheet;
        }
        if (QString kept = m_loaded.value("abca"); !PageStyle::TakeBackground(kept, abca, QStringLiteral("FrmConfig OK"))) {
            refuse("abca", abca, "The background must be a colour (#rgb, #rrggbb or a name of letters)");
            if (!PageStyle::IsSafeBackground(abca))
                abca = gBackground;
        }
        // Only what this dialog's user changed is written and put to use: a
        // status-page Save since the dialog loaded keeps what it saved.
        if (edited("aStyleSheet")) {
            ignoring([&] { saveHost("StyleSheet", aStyleSheet); });
            ignoring([&] { gStyleSheet = aStyleSheet; });
        }
        if (edited("abca")) {
            ignoring([&] { saveHost("Background", abca); });
            ignoring([&] { gBackground = abca; });
        }
        if (edited("aServerPort")) {
            ignoring([&] { saveHost("HTTPPort", aServerPort); });
            ignoring([&] { gHTTPPort = aServerPort; });
        }
        const bool linkEdited = edited("aCommPort") || edited("aSerialIP");
        if (linkEdited) {
            ignoring([&] { saveHost("CommPort", aCommPort); });
            ignoring([&] { saveHost("SerialIP", aSerialIP); });
            ignoring([&] {
                const bool linkChanged = aSerialIP != gSerialIPAddress || aCommPort != gCommPort;
                const bool wasTcp = gUseSerialComm;
                gSerialIPAddress = aSerialIP;
                gUseSerialComm = gSerialIPAddress.contains('.');
                // A device path is kept as written; a number loses its leading zeros.
                const int number = wholeNumber(aCommPort, 0);
                const QString numeric = number >= 0 ? QString::number(number) : aCommPort.trimmed();
                if (linkChanged || wasTcp != gUseSerialComm) {
                    gCommPort = gUseSerialComm ? aCommPort : numeric;
                    changeLink(numeric);
                } else {
                    gCommPort = numeric;
                }
            });
            // The link's start waited with events running: the dialog or the program may be going.
            if (!self || gShuttingDown)
                return;
        }

        if (edited("TxtPoll")) {
            ignoring([&] {
                gPlugin.PollInterval = QString::number(PluginSettings::pollInterval(TxtPoll));
                if (FrmTimer* f = FrmTimer::instance(); f && f->Timer2.isEnabled())
                    f->EnablePollTimer(true); // the new interval applies at once
            });
            ignoring([&] { savePlugin("poll_interval", gPlugin.PollInterval); });
        }
        // Boxes whose running option follows at once.
        struct Box
        {
            const char* control;
            const char* key;
            int FrmConfig::*value;
            int* running;
        };
        const Box boxes[] = {{"ChkInvert", "invert", &FrmConfig::ChkInvert, &gPlugin.InvertDefault},
                             {"ChkLogErrors", "log_errors", &FrmConfig::ChkLogErrors, &gPlugin.LogErrors},
                             {"ChkLogComms", "log_comms", &FrmConfig::ChkLogComms, &gPlugin.LogComms},
                             {"aX10Xmit", "X10Xmit", &FrmConfig::aX10Xmit, &gPlugin.X10XmitFlag}};
        for (const Box& b : boxes) {
            if (!edited(b.control))
                continue;
            *b.running = this->*b.value;
            ignoring([&] { savePlugin(b.key, QString::number(*b.running)); });
        }
        if (linkEdited)
            ignoring([&] { savePlugin("comport", gPlugin.CommPort); });
        if (edited("showInMenu"))
            ignoring([&] { savePlugin("showInMenu", box(showInMenu)); });
        if (edited("aIRRecognitionForward"))
            ignoring([&] { savePlugin("Recognition", box(aIRRecognitionForward)); });

        ignoring([&] { SaveIncludeOptions(); });
        ignoring([&] { SaveQPROFile(); });
        ignoring([&] { SaveIRPROFile(); });

        if (m_irLabelsChanged) {
            ignoring([&] {
                gPlugin.IRMapEntries = m_irMap;
                IRFiles::SaveIRMap();
                IRFiles::BuildIRLookup();
            });
            m_irLabelsChanged = false;
        }
        flushToDisk();
        // What was taken is now the dialog's starting point.
        m_loaded = shownValues();
    }
    noteFailedSaves(saveSerial);
    if (!Note.isEmpty()) {
        emit changed(); // stays open to say what was not taken
        return;
    }
    Unload();
}

// The link moves: the old one is closed first, then communications start
// again on the new address or port.
void FrmConfig::changeLink(const QString& portText)
{
    gPlugin.UseSerialComm = gUseSerialComm;
    gPlugin.SerialIPAddress = gSerialIPAddress;
    const int port = wholeNumber(gCommPort, 1);
    gPlugin.CommPort = gUseSerialComm ? (port > 0 ? QString::number(port) : gCommPort.trimmed()) : portText;
    PluginHost::ignoring([] {
        if (HostHooksInstance().createSerialComm.available())
            gSerialCommLink = HostHooksInstance().createSerialComm();
    });
    FrmTimer* f = FrmTimer::instance();
    if (f)
        f->link.CloseCommLink(false);
    gPlugin.CommsStarted = false;
    LogControllerError(kProgramName, "Initializing X10 Interface on port " + gPlugin.CommPort);
    // The start below waits for the controller while events run; the dialog says what for, and
    // Cancel gives the wait up.
    Shutdown::CancellableWaits cancellable;
    const QString noteBefore = Note;
    Note = "Waiting for the controller on " + (gUseSerialComm ? gSerialIPAddress + ":" : QStringLiteral("port "))
        + gPlugin.CommPort + " (Cancel stops waiting)";
    m_controllerWait = true;
    emit changed();
    struct WaitOver {
        QPointer<FrmConfig> form;
        QString note;
        ~WaitOver()
        {
            if (!form)
                return;
            form->m_controllerWait = false;
            form->Note = note;
            emit form->changed();
        }
    } over{this, noteBefore};
    if (f && (gPlugin.X10Started || gPlugin.IREnabled || gPlugin.IOEnabled)) {
        f->start.StartCommunications();
    } else {
        PluginHost::ignoring([] {
            if (gPluginInstance)
                gPluginInstance->call("InitX10", {Variant(VbString::Val(gPlugin.CommPort))});
        });
    }
}

void FrmConfig::CancelButton_Click()
{
    if (m_controllerWait)
        Shutdown::cancelWaits();
    Unload();
}

void FrmConfig::Form_Unload()
{
    // At Exit nobody is there to answer: changes not confirmed are not acted on.
    if (gShuttingDown) {
        gPlugin.ConfigDialogOpen = false;
        return;
    }
    if ((matrixChanged() || m_irLabelsChanged) && m_ready) {
        if (ask("Changes were made to Variables or IO Point Devices.  Should these changes be acted upon?")) {
            CreateVariablesAndIO(3);
            flushToDisk();
        }
    }
    if (gPlugin.ToolRunRequested)
        remind("Reminder...comm port to quillon was disconnected and will be reconnected when QPRO is closed");
    else if (gPlugin.DisconnectRequested)
        remind("Reminder...comm port to quillon was disconnected");
    if (gPlugin.IRZonesWritten) {
        if (!ask("IR Label Files have been created from QPRO System Map.  Their use requires a Tessera restart.  Do "
                 "you want them to replace existing ones after tessera shuts down?"))
            gPlugin.IRZonesWritten = false;
    }
    gPlugin.ConfigDialogOpen = false;
}

void FrmConfig::SaveIncludeOptions()
{
    using PluginHost::ignoring;
    // Each box its user changed: written, put to use, and from then on what
    // the dialog starts from; the others keep what the status page saved.
    struct Box
    {
        const char* control;
        const char* key;
        int FrmConfig::*value;
        bool* option; // the running option, or none
    };
    const Box boxes[] = {{"aIncludeVariables", "IncludeVariables", &FrmConfig::aIncludeVariables, &gPlugin.IncludeVariables},
                         {"aIncludeIO", "IncludeIO", &FrmConfig::aIncludeIO, &gPlugin.IncludeIO},
                         {"aIncludeIR", "IncludeIR", &FrmConfig::aIncludeIR, &gPlugin.IncludeIR},
                         {"aIncludeX10", "IncludeX10", &FrmConfig::aIncludeX10, &gPlugin.IncludeX10},
                         // The messages box has a key of its own; the setup-block flag is the status page's.
                         {"aIncludeMessages", "IncludeMessages", &FrmConfig::aIncludeMessages, nullptr}};
    for (const Box& b : boxes) {
        if (!edited(b.control))
            continue;
        ignoring([&] { savePlugin(b.key, box(this->*b.value)); });
        if (b.option)
            *b.option = this->*b.value != 0;
        taken(b.control);
    }
    if (edited("aProjectFile")) {
        ignoring([&] { savePlugin("ProjectFile", aProjectFile); });
        taken("aProjectFile");
    }
}

void FrmConfig::SaveQPROFile()
{
    if (!edited("aQPROexe"))
        return;
    savePlugin("QPROFile", aQPROexe);
    taken("aQPROexe");
}

void FrmConfig::SaveIRPROFile()
{
    if (!edited("aIRProExe"))
        return;
    savePlugin("IRPROFile", aIRProExe);
    taken("aIRProExe");
}

void FrmConfig::BrowseProjectFile()
{
    if (m_updating)
        return;
    FrmConfigBusy busy(*this);
    const QString path = chooseFile("Project (*.prj)|*.prj", aProjectFile);
    // The file dialog let events run: a choice made as the program stops is not taken.
    if (path.isEmpty() || gShuttingDown)
        return;
    if (!codePageOnly(path) || hasControl(path)) {
        Note = "This path can hold only Windows-1252 characters on one line (the settings files are Windows-1252); "
            + quoted(path) + " was not taken, " + quoted(aProjectFile) + " is kept.";
        emit changed();
        return;
    }
    {
        Updating u(m_updating);
        aProjectFile = path;
    }
    PluginSettings::save("ProjectFile", aProjectFile);
    taken("aProjectFile");
    // Taken at once: a choice must survive a process killed before Exit.
    flushSettings();
    emit changed();
}

void FrmConfig::BrowseQPROexe()
{
    if (m_updating)
        return;
    FrmConfigBusy busy(*this);
    const QString path = chooseFile("cpuqx.exe|cpuqx.exe", aQPROexe);
    // The file dialog let events run: a choice made as the program stops is not taken.
    if (path.isEmpty() || gShuttingDown)
        return;
    if (!codePageOnly(path) || hasControl(path)) {
        Note = "This path can hold only Windows-1252 characters on one line (the settings files are Windows-1252); "
            + quoted(path) + " was not taken, " + quoted(aQPROexe) + " is kept.";
        emit changed();
        return;
    }
    {
        Updating u(m_updating);
        aQPROexe = path;
    }
    SaveQPROFile();
    // Taken at once: a choice must survive a process killed before Exit.
    flushSettings();
    emit changed();
}

void FrmConfig::BrowseIRProExe()
{
    if (m_updating)
        return;
    FrmConfigBusy busy(*this);
    const QString path = chooseFile("IR_MAX.exe|IR_MAX.exe", aIRProExe);
    // The file dialog let events run: a choice made as the program stops is not taken.
    if (path.isEmpty() || gShuttingDown)
        return;
    if (!codePageOnly(path) || hasControl(path)) {
        Note = "This path can hold only Windows-1252 characters on one line (the settings files are Windows-1252); "
            + quoted(path) + " was not taken, " + quoted(aIRProExe) + " is kept.";
        emit changed();
        return;
    }
    {
        Updating u(m_updating);
        aIRProExe = path;
    }
    SaveIRPROFile();
    // Taken at once: a choice must survive a process killed before Exit.
    flushSettings();
    emit changed();
}

void FrmConfig::aQPRO_Click()
{
    FrmConfigBusy busy(*this);
    PluginHost::trapped("aQPRO_Click", [&] {
        if (!QFileInfo(aQPROexe).isFile()) {
            const QString before = aQPROexe;
            BrowseQPROexe();
            if (aQPROexe == before || !QFileInfo(aQPROexe).isFile())
                return;
        }
        if (gPlugin.PointNameDictionary)
            gPlugin.PointNameDictionary->removeAll();
        gPlugin.ProjectMapTried = false; // read again when the tool has changed it
        gPlugin.ToolPath = aQPROexe;
        gPlugin.DisconnectRequested = true;
        gPlugin.ToolRunRequested = true;
        UpdateDisconnectCaption();
    });
    emit changed();
}

void FrmConfig::aIRPro_Click()
{
    FrmConfigBusy busy(*this);
    PluginHost::trapped("aIRPro_Click", [&] {
        if (!QFileInfo(aIRProExe).isFile()) {
            const QString before = aIRProExe;
            BrowseIRProExe();
            if (aIRProExe == before || !QFileInfo(aIRProExe).isFile())
                return;
        }
        if (!QProcess::startDetached(aIRProExe, {}))
            LogControllerError(kProgramName, "aIRPro_Click: cannot start " + aIRProExe);
    });
    emit changed();
}

void FrmConfig::aSynchronize_Click()
{
    FrmConfigBusy busy(*this);
    Note.clear();
    const quint64 saveSerial = SavedFiles::failureSerial();
    PluginHost::trapped("aSynchronize_Click", [&] {
        SaveIncludeOptions();
        flushSettings();
        if (QFileInfo::exists(aProjectFile) && !QFileInfo(aProjectFile).isFile()) {
            // A pipe or a device would block the program or never end.
            LogControllerError(kProgramName, "aSynchronize_Click: " + aProjectFile + " is not a regular file; not read");
            Note = "The project file " + quoted(aProjectFile) + " is not a regular file; it was not read.";
            return;
        }
        if (!QFileInfo(aProjectFile).isFile()) {
            const QString before = aProjectFile;
            BrowseProjectFile();
            if (aProjectFile == before)
                return;
        }
        const bool qproMaster = aSyncMaster == 1;
        QString question;
        if (qproMaster) {
            question = QStringLiteral("Are you certain you want to overwrite Korvane definitions?");
            if (aIncludeIR != 0)
                question += QStringLiteral("  Note that IR Label changes will not take effect until Tessera restart.");
        } else {
            question = QStringLiteral("Are you certain you want to overwrite QPRO System Map definitions?");
        }
        if (!ask(question) || gShuttingDown)
            return;
        PointMap::Includes includes;
        includes.variables = aIncludeVariables != 0;
        includes.x10 = aIncludeX10 != 0;
        includes.io = aIncludeIO != 0;
        includes.ir = aIncludeIR != 0;
        PointMap::Synchronize(qproMaster ? 1 : 0, aProjectFile, includes);
        flushToDisk();
        if (const QString error = PointMap::ReadError(); !error.isEmpty()) {
            // The reader names the file first, then why it refused it.
            const QString why = error.startsWith(aProjectFile + ' ') ? error.mid(aProjectFile.size() + 1) : error;
            Note = "The project file " + quoted(aProjectFile) + " " + why + ".";
        }
    });
    noteFailedSaves(saveSerial);
    emit changed();
}

void FrmConfig::Disconnect_Click()
{
    FrmConfigBusy busy(*this);
    QPointer<FrmConfig> self(this);
    gPlugin.DisconnectRequested = !gPlugin.DisconnectRequested;
    UpdateDisconnectCaption();
    if (!gPlugin.DisconnectRequested) {
        // Reconnect: the port is closed first, whatever state it was left in.
        if (FrmTimer* f = FrmTimer::instance()) {
            f->link.CloseCommLink(false);
            gPlugin.CommsStarted = false;
            f->start.StartCommunications();
        }
        if (!self || gShuttingDown)
            return;
    }
    PortOpen = gPlugin.PortOpenFlag ? 1 : 0;
    emit changed();
}

void FrmConfig::aClock_Click()
{
    FrmConfigBusy busy(*this);
    if (FrmTimer* f = FrmTimer::instance())
        f->start.SyncClock();
}

void FrmConfig::Command1_Click()
{
    FrmConfigBusy busy(*this);
    DeviceCreation::CreateKestrelDevice();
    flushToDisk();
    emit changed();
}

void FrmConfig::aCreateVariables_Click()
{
    if (!m_ready)
        return;
    FrmConfigBusy busy(*this);
    CreateVariablesAndIO(1);
    LoadVariableBoxes(); // ticks of the I/O matrix not acted on yet stay
    flushToDisk();
    emit changed();
}

void FrmConfig::ButCreate_Click()
{
    if (!m_ready)
        return;
    FrmConfigBusy busy(*this);
    CreateVariablesAndIO(2);
    LoadIOBoxes(); // ticks of the variable matrix not acted on yet stay
    flushToDisk();
    emit changed();
}

void FrmConfig::aIncludeMessages_Click()
{
    if (m_updating)
        return;
    LogControllerError(kProgramName, QStringLiteral("QPRO Messages Not Implemented"));
    Updating u(m_updating);
    aIncludeMessages = 0;
    emit changed();
}

void FrmConfig::Check1_Click(int index, int value)
{
    if (index < 0 || index >= 128)
        return;
    matrix.Check1[size_t(index)] = value != 0 ? 1 : 0;
    m_varsChanged = true;
}

void FrmConfig::IOPoint_Click(int index, int value)
{
    if (index < 0 || index >= 256)
        return;
    matrix.IOPoint[size_t(index)] = value != 0 ? 1 : 0;
    m_ioChanged = true;
}

void FrmConfig::aInvert_Click(int row, int value)
{
    if (row < 0 || row >= 16)
        return;
    matrix.aInvert[size_t(row)] = value != 0 ? 1 : 0;
    m_ioChanged = true;
}

void FrmConfig::aRemap_Change(int index, const QString& text)
{
    if (index < 0 || index >= 36)
        return;
    aRemap[size_t(index)] = text;
    if (!m_updating)
        m_irLabelsChanged = true;
}

void FrmConfig::aIRDevice_Click(int index)
{
    // 28 pages of 36 locations fill the table; a device listed beyond them has no page.
    if (index < 0 || index * 36 + 35 > 1007) {
        emit changed(); // the selector shows the page still shown
        return;
    }
    PluginHost::trapped("aIRDevice_Click", [&] {
        for (int i = 0; i < 36; ++i)
            m_irMap[m_pageOffset + i] = aRemap[size_t(i)];
        showIRPage(index);
    });
    emit changed();
}

void FrmConfig::showIRPage(int page)
{
    Updating u(m_updating);
    aIRDeviceIndex = page;
    m_pageOffset = 36 * page;
    for (int i = 0; i < 36; ++i) {
        const int loc = m_pageOffset + i;
        aIRLabel[size_t(i)] = (QString::number(loc) + " : " + gPlugin.IRLabels.value(loc)).left(19);
        aRemap[size_t(i)] = m_irMap.value(loc);
    }
}

void FrmConfig::ResetLoadFlags()
{
    m_varsChanged = false;
    m_ioChanged = false;
    m_irLabelsChanged = false;
    m_ready = true;
    gPlugin.IRZonesWritten = false;
}

void FrmConfig::CreateVariablesAndIO(int flags)
{
    // The flag of a matrix not acted on stays, so the unload still asks about it.
    if (flags & 1)
        m_varsChanged = false;
    if (flags & 2)
        m_ioChanged = false;
    ::CreateVariablesAndIO(matrix, flags);
}

void FrmConfig::ShowHouseCodeLabels()
{
    if (gPlugin.VarsHouseCode != 0) {
        aVariableHouseCode1 = "House Code = " + QString(QChar(char16_t(gPlugin.VarsHouseCode)));
        aVariableHouseCode2 = "House Code = " + QString(QChar(char16_t(gPlugin.VarsHouseCode + 1)));
    } else {
        aVariableHouseCode1 = aVariableHouseCode2 = QStringLiteral("No House Code");
    }
}

void FrmConfig::LoadVariablesMatrix()
{
    LoadVariableBoxes();
    LoadIOBoxes();
}

void FrmConfig::LoadVariableBoxes()
{
    int progress = 0;
    try {
        Updating u(m_updating);
        ShowHouseCodeLabels();
        progress = 1;
        // The boxes say which devices exist; the used-flags of missing ones are cleared.
        matrix.Check1 = DeviceSelection::fromHost().Check1;
        for (int v = 0; v < 128; ++v) {
            QString caption = "Variable " + QString::number(v);
            if (matrix.Check1[size_t(v)] == 1) {
                const QString label = deviceLabel(UnitMappings::variableCode(v));
                if (!label.isEmpty())
                    caption += ":" + label;
            }
            Check1Caption[size_t(v)] = caption;
        }
        m_loadedMatrix.Check1 = matrix.Check1;
    } catch (...) {
        PluginHost::logTrapped("LoadVariablesMatrix Progress=" + QString::number(progress));
    }
}

void FrmConfig::LoadIOBoxes()
{
    int progress = 2;
    try {
        Updating u(m_updating);
        const DeviceSelection fresh = DeviceSelection::fromHost();
        matrix.IOPoint = fresh.IOPoint;
        matrix.aInvert = fresh.aInvert;
        matrix.rows = fresh.rows;
        aIOHouse.fill(QString());
        aIOUnit.fill(QString());
        IOPointVisible.fill(false);
        RowVisible.fill(false);
        for (int r = 0; r < matrix.rows.size() && r < 16; ++r) {
            const int unit = matrix.rows[r];
            const int type = gPlugin.UnitTypes[size_t(unit - 1)];
            const umap* m = nullptr;
            for (const umap& u : gPlugin.UnitMaps)
                if (u.unit == unit) {
                    m = &u;
                    break;
                }
            // A unit without devices yet gets its house code when its devices are made.
            aIOHouse[size_t(r)] = m ? m->hc : QString();
            matrix.aInvert[size_t(r)] = m ? m->invert : (gPlugin.InvertDefault != 0 ? 1 : 0);
            const QString label = unitTypeLabel(type);
            aIOUnit[size_t(r + 32)] = label.mid(0, 1);
            aIOUnit[size_t(r + 16)] = label.mid(1, 1);
            aIOUnit[size_t(r)] = label.mid(2, 1);
            RowVisible[size_t(r)] = true;
            const int points = type == 13 ? 8 : 16;
            for (int p = 0; p < 16; ++p) {
                const int i = 16 * r + p;
                IOPointVisible[size_t(i)] = p < points;
                QString caption = "IO Point " + QString::number(p);
                if (m && matrix.IOPoint[size_t(i)] == 1) {
                    const QString devLabel = deviceLabel(m->hc + QString::number(p + 1));
                    if (!devLabel.isEmpty())
                        caption += ":" + devLabel;
                }
                IOPointCaption[size_t(i)] = caption;
            }
            progress = 3 + r;
        }
        MatrixHeadingsVisible = !matrix.rows.isEmpty();
        m_loadedMatrix.IOPoint = matrix.IOPoint;
        m_loadedMatrix.aInvert = matrix.aInvert;
        m_loadedMatrix.rows = matrix.rows;
    } catch (...) {
        PluginHost::logTrapped("LoadVariablesMatrix Progress=" + QString::number(progress));
    }
}

void FrmConfig::UpdateDisconnectCaption()
{
    DisconnectCaption = gPlugin.DisconnectRequested ? QStringLiteral("Reconnect to Quillon")
                                                    : QStringLiteral("Disconnect from Quillon");
    DisconnectEnabled = !gPlugin.ToolRunRequested;
}

void FrmConfig::RenameInterface(const QString& oldName, const QString& newName)
{
    PluginHost::trapped("RenameInterface", [&] {
        const int count = PluginHost::DeviceCount();
        for (int i = 1; i <= count; ++i) {
            ObjectPtr dev = PluginHost::GetDevice(i);
            if (get(dev, "interface").toString().compare(oldName, Qt::CaseInsensitive) == 0)
                PluginHost::let(dev, "interface", newName);
        }
    });
}

void FrmConfig::portClosed()
{
    PortOpen = 0;
    emit changed();
}

void FrmConfig::ShowOption(OptionPair& options, qint16 value)
{
    if (value != 0) {
        options[0] = 0;
        options[1] = 1;
    } else {
        options[1] = 0;
        options[0] = 1;
    }
}

void FrmConfig::SaveOption(qint16 value, const QString& key)
{
    PluginSettings::SavePluginSetting(PluginSettings::kFile, QStringLiteral("tspi_quillon"), key,
                                      value != 0 ? QStringLiteral("1") : QStringLiteral("0"));
}
