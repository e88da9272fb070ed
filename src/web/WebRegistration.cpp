#include "web/WebRegistration.h"

#include "web/TCPServer.h"
#include "web/status/PostedForm.h"
#include "web/status/StatusPage.h"

#include "controller/PluginHooks.h"

#include "host/HostHooks.h"

void registerWebSubsystem()
{
    HostHooksInstance().loadTCPServer = [] { TCPServer::load(); };
    PluginHooksInstance().unloadTCPServer = [] { TCPServer::unload(); };
    registerStatusPage();
    registerPostedForm();
}
