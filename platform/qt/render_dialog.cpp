// Renders the setup dialog headless to PNG pictures: as it starts, and with the status
// box filled by a successful read from a simulated controller.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/afx/dialog.h"
#include "platform/qt/qt_dialog.h"
#include "res/resource.h"
#include "sim/simulator.h"

namespace {

bool Save(QWidget* widget, const QDir& dir, const char* name)
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    if (!widget->grab().save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argc > 0 ? argv[0] : "pscsetup-render");
        return 2;
    }
    const QDir outDir(QString::fromLocal8Bit(argv[1]));
    if (!outDir.exists() && !QDir().mkpath(outDir.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);

    // Only the simulated controller is reachable, whatever ports this machine has.
    for (int n = 1; n <= 8; ++n) {
        const std::string name = "PSCSETUP_COM" + std::to_string(n);
        const std::string none = "/tmp/pscsetup-render-no-port-" + std::to_string(n);
        setenv(name.c_str(), none.c_str(), 1);
    }
    pscsim::Simulator sim;
    sim.Start();
    setenv("PSCSETUP_COM1", sim.SlavePath().c_str(), 1);

    char programName[] = "pscsetup";
    int qtArgc = 1;
    char* qtArgv[] = {programName, nullptr};
    QApplication app(qtArgc, qtArgv);

    bool ok = true;
    QString lastMessage;
    QTimer messageCloser;
    QObject::connect(&messageCloser, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            lastMessage = box->text();
            box->accept();
        }
    });
    messageCloser.start(20);

    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        auto click = [&](int id) {
            if (auto* button = qobject_cast<QPushButton*>(afx::qt::FindControl(dialog, id)))
                button->click();
            else
                ok = false;
        };
        ok = dialog && Save(dialog, outDir, "dialog-start.png");
        if (ok) {
            click(IDC_OPEN_PORT);
            click(IDC_READ_STATUS);
            if (lastMessage != QString::fromUtf8("获得状态信息成功!")) {
                std::fprintf(stderr, "the status read did not succeed: %s\n", qPrintable(lastMessage));
                ok = false;
            }
        }
        ok = ok && Save(dialog, outDir, "dialog-status.png");
        if (dialog)
            dialog->close();
    });
    AfxWinMain(programName);
    sim.Stop();
    return ok ? 0 : 1;
}
