#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    // An event loop for the tests that read what the host sends over xAP.
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
