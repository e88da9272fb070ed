#include "UiRegistration.h"
#include "FrmConfig.h"
#include "FrmConfigDialog.h"

#include "controller/PluginHooks.h"
#include "core/CoreHooks.h"

void registerControllerUi()
{
    PluginHooks& hooks = PluginHooksInstance();
    hooks.showConfigDialog = [](bool modal) { FrmConfigDialog::showDialog(modal); };
    hooks.dialogDisconnectClick = [] {
        if (FrmConfig* form = FrmConfig::instance())
            form->Disconnect_Click();
    };
    hooks.dialogPortClosed = [] {
        if (FrmConfig* form = FrmConfig::instance())
            form->portClosed();
    };
    Hooks().unloadConfigDialog = [] { FrmConfig::Unload(); };
}
