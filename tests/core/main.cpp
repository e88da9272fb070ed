#include "core/Globals.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    // Every file the code under test writes lands in a throw-away program folder.
    QTemporaryDir appDir;
    gAppPath = appDir.path();
    return RUN_ALL_TESTS();
}
