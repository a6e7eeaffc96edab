// The dialog tests run inside one QApplication on the offscreen platform, with every
// COM name pointing at a path that does not exist unless a test maps it to a simulator.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>
#include <string>

#include "dialog_session.h"

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    for (int n = 1; n <= 8; ++n)
        dialogtest::MapComPort(n, dialogtest::MissingPortPath(n));

    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    return RUN_ALL_TESTS();
}
