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

struct Rerun
{
    // Inside, the loopback is brought up before the test goes on.
    bool loopbackUp = true;
    // Where namespaces are not available the test is skipped rather than run here.
    bool onlyThere = false;
};
// Outside: runs the current test again in a namespace of its own, prints that run's
// output and fails the test when it failed. True when the caller returns at once:
// after that run, on a skip, or inside when the loopback would not come up.
bool rerun(const Rerun &how);

} // namespace PrivateNetwork

// At the top of a test: runs it again in a namespace of its own (loopback up unless
// `.loopbackUp = false`) and returns with that run's result. Inside that run, or where
// namespaces are not available (unless `.onlyThere = true`), the test goes on here.
#define RUN_IN_PRIVATE_NETWORK(...)                                                                     \
    do {                                                                                                \
        if (PrivateNetwork::rerun(PrivateNetwork::Rerun{__VA_ARGS__}))                                  \
            return;                                                                                     \
    } while (false)
