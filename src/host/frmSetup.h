#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// The host's plug-in selection and menu dialog without its widgets: the
// known plug-ins in two lists, the menus plug-ins registered with the host,
// and the debug-log switch, saved to Settings.ini when it closes.
class frmSetup : public QObject
{
    Q_OBJECT
public:
    // One row of the plug-in table.
    struct PluginRow
    {
        QString Interface;
        QString Filename;
        bool Selected = false;
    };

    static frmSetup* instance();
    // Loads the dialog unless it is loaded.
    static frmSetup& Load();
    static void Unload();
    ~frmSetup() override;

    // --- controls ---
    QStringList PluginList;        // rows not selected ("Dbl-Click to Exclude ...")
    QStringList ExcludeList;       // rows selected
    QStringList aPluginForm;       // "caption - menu" entries
    bool aPluginFormVisible = false;
    int aDebugLog = 0;
    QString lblver = QStringLiteral("Label3");

    void form_load();
    void PopulateMenuPulldown();
    void aRetrievePlugins_Click();
    // The combo's chosen text opens that menu on its plug-in.
    void aPluginForm_Click(const QString& text);
    void ExcludeList_DblClick(const QString& text);
    void PluginList_DblClick(const QString& text);

    const QList<PluginRow>& table() const { return m_table; }
    bool hasTable() const { return m_hasTable; }

signals:
    void changed();
    void unloaded();

private:
    frmSetup() = default;
    void Form_unload();
    void PopulateExcludeList();
    void PopulateSelectedList();
    QStringList PopulateList(bool selected);
    void LoadPluginItem(const QString& fileName, bool selected);
    void LoadIniMenus();
    void DefineLocalRecordset();

    bool m_changed = false;
    bool m_hasTable = false;
    QList<PluginRow> m_table;
};
