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

// At the top of a test: runs it again in a namespace of its own with its
// loopback up and returns with that run's result. Inside that run, or where
// namespaces are not available, the test goes on here.
#define RUN_IN_PRIVATE_NETWORK()                                                                        \
    do {                                                                                                \
        if (PrivateNetwork::inside()) {                                                                 \
            ASSERT_TRUE(PrivateNetwork::setLoopbackUp());                                               \
        } else if (PrivateNetwork::available()) {                                                       \
            int code_ = -1;                                                                             \
            const QString output_ = PrivateNetwork::runCurrentTest(&code_);                             \
            ASSERT_EQ(code_, 0) << output_.toStdString();                                               \
            return;                                                                                     \
        }                                                                                               \
    } while (false)
