// kvq-icon: writes the program's icon as PNG files for the desktop's icon theme
// (DIR/NxN/apps/kvq.png for each size). Run while the package is built, so the
// installed icon is the one the dialog draws.

#include <QDir>
#include <QGuiApplication>
#include <QString>
#include <cstdio>

#include "ui/ApplicationIcon.h"

namespace kvq::ui {

namespace {

constexpr int IconSizes[] = {16, 24, 32, 48, 64, 128, 256};

}  // namespace

int IconExportMain(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kvq-icon DIRECTORY\n");
        return 2;
    }
    // Painting on an image needs no display; the offscreen platform keeps it so.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QGuiApplication app(argc, argv);
    const QDir root(QString::fromLocal8Bit(argv[1]));
    for (const int size : IconSizes) {
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString file = root.filePath(folder + QStringLiteral("/kvq.png"));
        if (!root.mkpath(folder) || !ApplicationIconImage(size).save(file, "PNG")) {
            std::fprintf(stderr, "kvq-icon: cannot write %s\n", file.toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}

}  // namespace kvq::ui

int main(int argc, char** argv) {
    return kvq::ui::IconExportMain(argc, argv);
}
