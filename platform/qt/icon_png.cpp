// Build step: writes the program's icon images as PNG files for the desktop's icon theme.
#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>

#include "platform/afx/dialog_template.h"
#include "platform/qt/qt_icon.h"
#include "res/resource.h"

// Usage: psc_icon_png DIR  ->  DIR/16x16/pscsetup.png, DIR/32x32/pscsetup.png, ...
int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argc > 0 ? argv[0] : "psc_icon_png");
        return 2;
    }
    const afx::IconResource* icon = AfxFindIconResource(IDR_MAINFRAME);
    if (!icon || icon->imageCount == 0) {
        std::fprintf(stderr, "no icon resource %d\n", IDR_MAINFRAME);
        return 1;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    for (std::size_t i = 0; i < icon->imageCount; ++i) {
        const afx::IconImage& image = icon->images[i];
        const QString size = QStringLiteral("%1x%1").arg(image.size);
        if (!root.mkpath(size)) {
            std::fprintf(stderr, "cannot create %s\n", qPrintable(root.filePath(size)));
            return 1;
        }
        const QString path = root.filePath(size + QStringLiteral("/pscsetup.png"));
        if (!afx::qt::ToImage(image).save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
