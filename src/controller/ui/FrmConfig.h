#pragma once
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>

#include "controller/DeviceSelection.h"

// What the configuration dialog asks its user. While the dialog is loaded
// without being shown (by the status page or a test) there is nobody to ask:
// no reminder appears, a question takes its default answer (Yes) and a file
// choice counts as cancelled.
class FrmConfigPrompts
{
public:
    virtual ~FrmConfigPrompts();
    virtual bool askYesNo(const QString& text) = 0;
    virtual void remind(const QString& text) = 0;
    // The chosen path, "" when cancelled.
    virtual QString chooseFile(const QString& filter, const QString& current) = 0;
};

// The "Configure Interface" dialog without its widgets: the state of every
// control and what its buttons do. One instance exists while the dialog is
// loaded; the widgets (FrmConfigDialog) show this state and hand clicks and
// edits back to it.
class FrmConfig : public QObject
{
    Q_OBJECT
public:
    // The loaded instance, null while the dialog is not loaded.
    static FrmConfig* instance();
    // Loads the dialog unless it is loaded (every load rereads all settings).
    static FrmConfig& Load();
    // Runs the unload's questions and releases the instance. Asked for while
    // one of the dialog's handlers runs (it may be waiting for the controller
    // or asking a question), the unload happens when that handler returns.
    static void Unload();
    // A model of its own for a caller that must leave the loaded dialog alone
    // (the status page's Save): only its matrices are read, from the host's
    // devices; it is never shown and asks nothing.
    static std::unique_ptr<FrmConfig> Standalone();

    ~FrmConfig() override;

    // --- controls ("General" tab) ---
    QString lblver;
    int PortOpen = 0;
    QString aCommPort, aSerialIP, TxtPoll;
    QString Note;                // why entered values were not taken
    int ChkInvert = 0, ChkLogErrors = 0, ChkLogComms = 0;
    int aX10Xmit = 1;
    int aIRRecognitionForward = 0;
    QString aStyleSheet, abca, aServerPort;
    int showInMenu = 1;
    QStringList List1;
    QString DisconnectCaption;
    bool DisconnectEnabled = true;

    // --- "QPRO" tab ---
    QString aProjectFile, aQPROexe, aIRProExe;
    int aIncludeVariables = 0, aIncludeX10 = 0, aIncludeIO = 0, aIncludeIR = 0, aIncludeMessages = 0;
    int aSyncMaster = 0;         // 0 "Tessera Master", 1 "QPRO Master"

    // --- "Variables" and "I/O Devices" tabs ---
    DeviceSelection matrix;      // Check1, IOPoint, aInvert and the unit of each row
    std::array<QString, 128> Check1Caption;
    std::array<QString, 256> IOPointCaption;
    std::array<bool, 256> IOPointVisible{};
    std::array<bool, 16> RowVisible{};
    bool MatrixHeadingsVisible = false;
    std::array<QString, 16> aIOHouse;
    std::array<QString, 48> aIOUnit;   // per row r: r + 32, r + 16 and r
    QString aVariableHouseCode1, aVariableHouseCode2;

    // --- "Infra Red Remap" tab ---
    QStringList aIRDevice;
    int aIRDeviceIndex = 0;
    std::array<QString, 36> aIRLabel;
    std::array<QString, 36> aRemap;

    // --- state ---
    bool matrixChanged() const { return m_varsChanged || m_ioChanged; }
    bool irLabelsChanged() const { return m_irLabelsChanged; }
    bool ready() const { return m_ready; }
    bool updating() const { return m_updating; }
    int irPageOffset() const { return m_pageOffset; }
    const QStringList& irMapCopy() const { return m_irMap; }
    void setPrompts(FrmConfigPrompts* prompts) { m_prompts = prompts; }

    // While a handler runs the dialog takes no other click and no close.
    bool busy() const { return m_busy > 0; }
    // OK waits for the controller on a new link; Cancel gives that wait up.
    bool waitingForController() const { return m_controllerWait; }
    // Runs `action` now, or when the running handler returns (for changes
    // made from outside the dialog, such as matrices to show again).
    void whenIdle(std::function<void()> action);

    // --- actions ---
    void Form_Load();
    // Saves and unloads. A changed value the settings cannot hold (a port or
    // poll interval out of range, text outside the code page, a remap that is no
    // location) keeps its old value; the rest is saved and the dialog stays
    // loaded, saying so in Note.
    void OKButton_Click();
    void CancelButton_Click();
    void aQPRO_Click();
    void aIRPro_Click();
    void aSynchronize_Click();
    void Disconnect_Click();
    void aClock_Click();
    void Command1_Click();
    void aCreateVariables_Click();
    void ButCreate_Click();
    void BrowseProjectFile();
    void BrowseQPROexe();
    void BrowseIRProExe();
    void aIncludeMessages_Click();

    // A box of a matrix changed by the user.
    void Check1_Click(int index, int value);
    void IOPoint_Click(int index, int value);
    void aInvert_Click(int row, int value);
    // A remap text edited by the user.
    void aRemap_Change(int index, const QString& text);
    // Another IR device chosen: the shown page is kept, the chosen one shown.
    void aIRDevice_Click(int index);

    // Called from outside the dialog (status page, report loop).
    void ResetLoadFlags();
    void CreateVariablesAndIO(int flags);
    void LoadVariablesMatrix();
    // Either matrix alone: the other keeps its unsaved boxes.
    void LoadVariableBoxes();
    void LoadIOBoxes();
    // The host's devices changed behind the dialog: the matrices are read
    // again at once, keeping the boxes the user changed and has not acted on
    // yet; while one of the dialog's handlers runs, its widgets show them
    // when the handler has returned.
    void RefreshMatrices();
    void ShowHouseCodeLabels();
    void UpdateDisconnectCaption();
    void RenameInterface(const QString& oldName, const QString& newName);
    // The report loop closed the link.
    void portClosed();

    // A pair of option buttons (members 0 and 1) showing a stored flag:
    // non-zero ticks member 1, zero member 0; the other is cleared first.
    using OptionPair = std::array<int, 2>;
    static void ShowOption(OptionPair& options, qint16 value);
    // Stores a flag as "1" or "0" under key in [tspi_quillon] of xaptvkKorvane.ini.
    static void SaveOption(qint16 value, const QString& key);

signals:
    // Controls changed by an action: the widgets show them again.
    void changed();
    // A handler began (true) or the last running one returned (false).
    void busyChanged(bool busy);
    // The dialog unloaded: its widgets go.
    void unloaded();

private:
    friend class FrmConfigBusy;
    FrmConfig();
    void enterHandler();
    void leaveHandler();
    void flushToDisk();
    QHash<QString, QString> shownValues() const;
    bool edited(const QString& control) const;
    void taken(const QString& control);
    void flushSettings();  // the settings files only
    // Adds to the note every file that could not be written since `serial`.
    void noteFailedSaves(quint64 serial);
    void refuse(const QString& control, QString& value, const QString& why);
    void checkText(const QString& control, QString& value);
    void checkPort(const QString& control, QString& value, bool devicePathAllowed);
    void checkLinkPair();
    void checkPoll();
    void checkRemaps();
    void Form_Unload();
    void SaveIncludeOptions();
    void SaveQPROFile();
    void SaveIRPROFile();
    void showIRPage(int page);
    void changeLink(const QString& portText);
    bool ask(const QString& text);
    void remind(const QString& text);
    QString chooseFile(const QString& filter, const QString& current);

    DeviceSelection m_loadedMatrix; // the matrices as last read from the host
    bool m_varsChanged = false;
    bool m_ioChanged = false;
    bool m_irLabelsChanged = false;
    bool m_ready = false;
    bool m_updating = false;
    int m_pageOffset = 0;
    QStringList m_irMap;
    FrmConfigPrompts* m_prompts = nullptr;
    int m_busy = 0;
    bool m_controllerWait = false;
    bool m_unloadPending = false;
    bool m_unloading = false;
    QList<std::function<void()>> m_idleActions;
    // The values as loaded: a value left as it was is taken whatever it is.
    QHash<QString, QString> m_loaded;   // by control name
};
