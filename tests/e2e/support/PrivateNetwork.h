#pragma once

#include <QString>

// A test that re-runs itself inside a new user and network namespace: its
// loopback is its own (nothing it sends reaches another test, and it may bind
// the xAP port without waiting for anyone), and starts down.

// True when this process is the re-run inside the private network.
bool insidePrivateNetwork();
// True when `unshare -rn` works here.
bool privateNetworksAvailable();
// Runs the current test again inside a new user and network namespace; returns
// its output and sets *exitCode (-1 on a crash or a hang).
QString runInPrivateNetwork(int* exitCode);
// Brings the private network's loopback up.
bool setLoopbackUp();
