#include "bridge/BscCommandProgress.h"

#include "bridge/BscBridge.h"

const std::vector<BscEndpoint> &BscCommandProgress::endpoints()
{
    if (!m_endpoints) {
        m_endpoints = ControllerEndpoints();
        for (const BscEndpoint &e : *m_endpoints) {
            if (e.number >= 1)
                m_writable.insert(e.number);
        }
    }
    return *m_endpoints;
}

void BscCommandProgress::wrote(int number)
{
    endpoints();
    if (m_writable.contains(number))
        m_written.insert(number);
}

bool BscCommandProgress::allWritten()
{
    endpoints();
    return m_written.size() == m_writable.size();
}
