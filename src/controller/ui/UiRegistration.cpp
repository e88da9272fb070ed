#include "UiRegistration.h"
#include "FrmConfig.h"
#include "FrmConfigDialog.h"
#include "frmSetupDialog.h"

#include "controller/PluginHooks.h"
#include "host/HostHooks.h"

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
    HostHooksInstance().showPluginSelection = [] { frmSetupDialog::showDialog(); };
}
