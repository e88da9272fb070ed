#pragma once

#include "bridge/BscEndpoint.h"

#include <QSet>

#include <optional>
#include <vector>

// What one command message has written so far. Its blocks share one walk of
// the host's devices instead of one each, and it tells when every endpoint a
// command can write has been written.
class BscCommandProgress
{
public:
    // The controller's endpoints in host device order, walked on first use.
    const std::vector<BscEndpoint> &endpoints();
    int endpointCount() { return int(endpoints().size()); }
    // A point write was handed on for this sub-UID number.
    void wrote(int number);
    // Every endpoint that has a point to write (X10 units have none) was written.
    bool allWritten();

private:
    std::optional<std::vector<BscEndpoint>> m_endpoints;
    QSet<int> m_writable;
    QSet<int> m_written;
};
