#pragma once
#include "PluginTestSupport.h"

#include "controller/ui/FrmConfig.h"
#include "controller/ui/UiRegistration.h"
#include "host/ui/HostUiRegistration.h"
#include "controller/PluginHooks.h"
#include "core/IniTool.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMap>

// Answers the dialog's questions as a user would, and remembers them.
struct ScriptedPrompts : FrmConfigPrompts
{
    QStringList questions;
    QStringList reminders;
    QStringList fileFilters;
    bool answer = true;
    QString file; // "" cancels the file dialog

    bool askYesNo(const QString& text) override
    {
        questions << text;
        return answer;
    }
    void remind(const QString& text) override { reminders << text; }
    QString chooseFile(const QString& filter, const QString&) override
    {
        fileFilters << filter;
        return file;
    }
};

// The plug-in fixture with the dialog's files at hand.
class DialogFixture : public PluginFixture
{
protected:
    void SetUp() override
    {
        PluginFixture::SetUp();
        registerControllerUi();
        registerHostUi();
    }
    void TearDown() override
    {
        if (FrmConfig::instance()) {
            FrmConfig::instance()->setPrompts(nullptr);
            FrmConfig::Unload();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        PluginFixture::TearDown();
    }

    // Every key of section tspi_quillon of a Config file, as stored on disk.
    QMap<QString, QString> section(const QString& file) const
    {
        IniTool ini;
        ini.Load(appDir.filePath("Config/" + file));
        QMap<QString, QString> out;
        for (const QString& key : ini.Keys("tspi_quillon"))
            if (!key.isEmpty())
                out.insert(key.toLower(), ini.Read("tspi_quillon", key, "<none>"));
        return out;
    }
};
