#pragma once

#include <QString>

// Running a test in a network namespace of its own (a user namespace too, so no
// privilege is needed): its xAP port collides with no other test's, so such
// tests need no lock and run side by side.
namespace PrivateNetwork {

// True in the copy of the test that runs inside the namespace.
bool inside();
// Whether `unshare -rn` works here.
bool available();
// Runs the current test again inside a new namespace whose loopback starts
// down; returns its output, and its exit code in `exitCode`.
QString runCurrentTest(int *exitCode);
// Brings the namespace's loopback up.
bool setLoopbackUp();

} // namespace PrivateNetwork
