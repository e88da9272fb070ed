#include <QCoreApplication>

#include <gtest/gtest.h>

// Sockets and timers of these tests run on Qt's event loop.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
