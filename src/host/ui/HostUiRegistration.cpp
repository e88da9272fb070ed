#include "HostUiRegistration.h"
#include "frmSetupDialog.h"

#include "host/HostHooks.h"

void registerHostUi()
{
    HostHooksInstance().showPluginSelection = [] { frmSetupDialog::showDialog(); };
}
