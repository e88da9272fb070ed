#include "host/frmSetup.h"

#include "host/HostGlobals.h"
#include "host/Setup.h"

#include "automation/ClassRegistry.h"
#include "automation/PendingError.h"
#include "automation/Latin1Case.h"
#include "core/Globals.h"
#include "core/IniTool.h"
#include "core/Logging.h"
#include "core/Shutdown.h"

#include <QCoreApplication>
#include <QDir>
#include <QPointer>

#include <algorithm>

namespace {
QPointer<frmSetup> sInstance;

template<class F>
void trapped(const QString &label, F &&body)
{
    try {
        body();
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, label);
    }
}

IniTool *settingsIni()
{
    return gHostForm ? gHostForm->settingsFile() : nullptr;
}

bool interfaceGiven()
{
    return !gInterfaceName.isEmpty();
}

QString pluginName(const ObjectPtr &plugin)
{
    return plugin ? plugin->get(QStringLiteral("name")).toString() : QString();
}

QString lower(const QString &s)
{
    return Latin1Case::lower(s);
}
} // namespace

frmSetup::~frmSetup() = default;

frmSetup *frmSetup::instance()
{
    return sInstance.data();
}

frmSetup &frmSetup::Load()
{
    if (!sInstance) {
        sInstance = new frmSetup();
        sInstance->form_load();
    }
    return *sInstance;
}

void frmSetup::Unload()
{
    frmSetup *form = sInstance.data();
    if (!form)
        return;
    form->Form_unload();
    sInstance = nullptr;
    emit form->unloaded();
    if (QCoreApplication::instance())
        form->deleteLater();
    else
        delete form;
}

void frmSetup::form_load()
{
    trapped(QStringLiteral("Form_Load"), [&] {
        m_changed = true;
        aDebugLog = gDebugMode == 1 ? 1 : 0;
        // The table is made and filled here, so the lists show what Settings.ini holds.
        DefineLocalRecordset();
        LoadIniMenus();
        PopulateExcludeList();
        PopulateSelectedList();
        PopulateMenuPulldown();
    });
    emit changed();
}

void frmSetup::DefineLocalRecordset()
{
    trapped(QStringLiteral("DefineLocalRecordset"), [&] {
        m_table.clear();
        m_hasTable = true;
    });
}

void frmSetup::LoadIniMenus()
{
    trapped(QStringLiteral("LoadIniMenus"), [&] {
        if (interfaceGiven()) {
            LoadPluginItem(gInterfaceName, true);
            return;
        }
        IniTool *ini = settingsIni();
        if (!ini)
            return;
        for (const QString &key : ini->Keys(QStringLiteral("Plugins"))) {
            if (key.isEmpty())
                continue;
            const QString value = ini->Read(QStringLiteral("Plugins"), key, QStringLiteral("false"));
            LoadPluginItem(key, Latin1Case::lower(value) == QLatin1String("true"));
        }
    });
}

void frmSetup::LoadPluginItem(const QString &fileName, bool selected)
{
    trapped(QStringLiteral("LoadPluginItem"), [&] {
        if (!m_hasTable)
            return;
        for (const PluginRow &row : m_table)
            if (row.Filename == fileName)
                return;
        if (!gPluginCollection)
            return;
        for (const Variant &item : gPluginCollection->items()) {
            const QString name = pluginName(item.toObject());
            if (name == fileName) {
                m_table.append(PluginRow{name, fileName, selected});
                return;
            }
        }
    });
}

QStringList frmSetup::PopulateList(bool selected)
{
    QStringList out;
    trapped(QStringLiteral("PopulateList"), [&] {
        QList<PluginRow> rows;
        for (const PluginRow &row : m_table)
            if (row.Selected == selected)
                rows.append(row);
        std::stable_sort(rows.begin(), rows.end(), [](const PluginRow &a, const PluginRow &b) {
            return a.Interface.compare(b.Interface, Qt::CaseInsensitive) < 0;
        });
        for (const PluginRow &row : rows)
            out << row.Interface;
    });
    return out;
}

void frmSetup::PopulateExcludeList()
{
    trapped(QStringLiteral("PopulateSelectedList"), [&] { PluginList = PopulateList(false); });
}

void frmSetup::PopulateSelectedList()
{
    trapped(QStringLiteral("PopulateSelectedList"), [&] { ExcludeList = PopulateList(true); });
}

void frmSetup::ExcludeList_DblClick(const QString &text)
{
    trapped(QStringLiteral("ExcludeList_DblClick"), [&] {
        for (PluginRow &row : m_table)
            if (row.Interface == text) {
                row.Selected = false;
                break;
            }
        ExcludeList.removeAll(text);
        PopulateExcludeList();
        PopulateMenuPulldown();
    });
    emit changed();
}

void frmSetup::PluginList_DblClick(const QString &text)
{
    trapped(QStringLiteral("PluginList_DblClick"), [&] {
        for (PluginRow &row : m_table)
            if (row.Interface == text) {
                row.Selected = true;
                break;
            }
        PluginList.removeAll(text);
        PopulateSelectedList();
        PopulateMenuPulldown();
    });
    emit changed();
}

void frmSetup::PopulateMenuPulldown()
{
    if (!interfaceGiven() && gHostForm)
        gHostForm->GetSelectedPlugins(Variant(gInterfaceName));
    aPluginForm.clear();
    if (gRegisteredMenus && gRegisteredMenus->count() > 0) {
        aPluginFormVisible = true;
        const auto &keys = gRegisteredMenus->keyList();
        const auto &items = gRegisteredMenus->itemList();
        for (size_t i = 0; i < keys.size(); ++i) {
            const QString key = keys[i].toString();
            aPluginForm << items[i].toString() + " - " + key.mid(key.indexOf('~') + 1);
        }
    } else {
        aPluginFormVisible = false;
    }
}

void frmSetup::aPluginForm_Click(const QString &text)
{
    trapped(QStringLiteral("aPluginForm_Click"), [&] {
        const int split = text.indexOf(QLatin1String(" - "));
        const QString caption = split < 0 ? text : text.left(split);
        const QString menu = split < 0 ? QString() : text.mid(split + 3);
        if (!gRegisteredMenus || !gPluginCollection)
            return;
        const auto keys = gRegisteredMenus->keyList();
        const auto items = gRegisteredMenus->itemList();
        for (size_t i = 0; i < keys.size(); ++i) {
            if (items[i].toString() != caption)
                continue;
            const QString key = keys[i].toString();
            const int tilde = key.indexOf('~');
            const QString plugin = lower(key.left(tilde));
            const QString keyMenu = key.mid(tilde + 1);
            for (const Variant &item : gPluginCollection->items()) {
                ObjectPtr object = item.toObject();
                if (lower(pluginName(object)) != plugin || keyMenu != menu)
                    continue;
                if (menu == QLatin1String("ConfigIO") || menu == QLatin1String("ConfigX10")
                    || menu == QLatin1String("ConfigIR"))
                    object->call(menu);
                else
                    object->call(QStringLiteral("SelectMenu"), {Variant(menu)});
                return;
            }
        }
    });
}

void frmSetup::aRetrievePlugins_Click()
{
    QDir dir(gAppPath);
    for (const QString &file : dir.entryList(QDir::Files)) {
        if (!Latin1Case::lower(file).startsWith(QLatin1String("tspi_")) || file.size() < 9)
            continue;
        try {
            const QString base = file.left(file.size() - 4);
            ObjectPtr object = ClassRegistry::instance().create(base + QStringLiteral(".tspi"));
            if (object)
                LoadPluginItem(base.mid(5), false);
        } catch (...) {
        }
        PendingError::clear();
    }
    PopulateExcludeList();
    PopulateSelectedList();
    emit changed();
}

void frmSetup::Form_unload()
{
    // Closed by its user or by Exit: either way its own save.
    Shutdown::ExitSaves saves;
    trapped(QStringLiteral("Form_UnLoad"), [&] {
        IniTool *ini = settingsIni();
        if (!ini)
            return;
        if (m_changed) {
            ini->WriteKey(QStringLiteral("tspi_quillon"), QStringLiteral("DebugLog"), QString::number(aDebugLog));
            gDebugMode = aDebugLog;
            if (!interfaceGiven() && m_hasTable)
                for (const PluginRow &row : m_table)
                    ini->WriteKey(QStringLiteral("Plugins"), row.Filename,
                                  row.Selected ? QStringLiteral("True") : QStringLiteral("False"));
        }
        if (!ini->Save())
            LogError(kProgramName, QStringLiteral("Form_UnLoad: cannot write ") + ini->fileName());
    });
}
