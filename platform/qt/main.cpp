// pscsetup on Linux: the setup dialog on Qt Widgets.
#include <QApplication>

#include "platform/afx/dialog.h"

int main(int argc, char* argv[])
{
    // The program takes no arguments, and Qt is not to read any (-style, -reverse, ...).
    char fallbackName[] = "pscsetup";
    char* programName = argc > 0 && argv[0] ? argv[0] : fallbackName;
    int qtArgc = 1;
    char* qtArgv[] = {programName, nullptr};
    QApplication app(qtArgc, qtArgv);
    QGuiApplication::setDesktopFileName(QStringLiteral("pscsetup"));
    return AfxWinMain(programName);
}
