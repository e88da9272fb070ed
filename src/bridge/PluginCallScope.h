#pragma once

#include <memory>

// Marks a queue's call into the plug-in as running. The plug-in waits for the
// controller while pumping events, and an exit handled meanwhile unloads the
// queue: once the call is over, only a queue still alive is touched.
class PluginCallScope
{
public:
    PluginCallScope(bool &running, const std::shared_ptr<int> &owner) : m_running(running), m_alive(owner)
    {
        m_running = true;
    }
    ~PluginCallScope()
    {
        if (!m_alive.expired())
            m_running = false;
    }
    PluginCallScope(const PluginCallScope &) = delete;
    PluginCallScope &operator=(const PluginCallScope &) = delete;

private:
    bool &m_running;
    std::weak_ptr<int> m_alive;
};
