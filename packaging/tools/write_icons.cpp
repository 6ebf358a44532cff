// Writes the program's own window icon as PNG files for the desktop's icon
// theme: <dir>/<n>x<n>/apps/oxbrin.png for every size named.

#include "shell/icons.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <output dir> <size>...\n", argv[0]);
        return 2;
    }
    const QIcon icon = oxbrin::AppIcon();
    const QString out = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        char* end = nullptr;
        const long px = std::strtol(argv[i], &end, 10);
        if (end == argv[i] || *end != '\0' || px < 8 || px > 1024) {
            std::fprintf(stderr, "%s: not an icon size: %s\n", argv[0], argv[i]);
            return 2;
        }
        const int n = static_cast<int>(px);
        // The icon holds hand-drawn sizes; any other size is scaled from the
        // nearest, which is still better than the desktop's own scaling.
        QImage image = icon.pixmap(QSize(n, n)).toImage().convertToFormat(QImage::Format_ARGB32);
        if (image.size() != QSize(n, n))
            image = image.scaled(n, n, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(out).arg(n);
        if (!QDir().mkpath(dir) || !image.save(dir + QStringLiteral("/oxbrin.png"), "PNG")) {
            std::fprintf(stderr, "%s: cannot write %s/oxbrin.png\n", argv[0], qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
