#include "host/HostRegistration.h"

#include "host/Application.h"
#include "host/DevFunc.h"
#include "host/DeviceClass.h"
#include "host/GlobalVar.h"
#include "host/HostGlobals.h"
#include "host/HostHooks.h"
#include "host/IR.h"
#include "host/Script.h"
#include "host/Setup.h"
#include "host/frmSetup.h"

#include "core/CoreHooks.h"

#include "automation/ClassRegistry.h"

void registerHostSubsystem()
{
    ClassRegistry &classes = ClassRegistry::instance();
    classes.add(QStringLiteral("xaptvkKorvane.Application"), [] { return std::make_shared<Application>(); });
    classes.add(QStringLiteral("xaptvkKorvane.IR"), [] { return std::make_shared<IR>(); });
    classes.add(QStringLiteral("xaptvkKorvane.devFunc"), [] { return std::make_shared<devFunc>(); });
    classes.add(QStringLiteral("xaptvkKorvane.DeviceClass"), [] { return std::make_shared<DeviceClass>(); });
    classes.add(QStringLiteral("xaptvkKorvane.GlobalVar"), [] { return std::make_shared<GlobalVar>(); });

    // Scripts registered for status changes run as the host's RunEx runs them.
    HostHooksInstance().runEx = [](const QString &script, const QString &procedure, const Variant &parameter) {
        Script::RunFile(script, procedure, parameter);
    };

    CoreHooks &hooks = Hooks();
    hooks.loadHostForm = [] {
        if (!gHostForm)
            gHostForm = std::make_shared<Setup>();
        gHostForm->Form_Load();
    };
    hooks.unloadHostForm = [] {
        // The plug-in selection dialog saves its choices as on close; the host
        // form's unload ends the process, so it goes first.
        frmSetup::Unload();
        if (gHostForm)
            gHostForm->Form_Unload();
    };
    hooks.hostStartup = [] {
        if (gHostForm)
            gHostForm->Startup();
    };
    hooks.httpPort = [] { return gHTTPPort; };
}
