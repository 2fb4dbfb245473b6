// SPDX-License-Identifier: GPL-3.0-or-later
// The window icon as files for the icon theme, and a check that another
// drawing of it (the hand-written SVG, rendered) still shows the same face:
//   quorandel_icon_render OUTPUT_FOLDER SIZE...   writes OUTPUT_FOLDER/SIZE.png
//   quorandel_icon_render --compare PICTURE.png   exits 1 when they differ
#include "look/ClockFaceIcon.h"

#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace {

// Two renderers smooth edges differently; a pixel counts as different only
// when a channel is off by more than a quarter of its range.
bool farApart(QRgb a, QRgb b)
{
    const int limit = 64;
    return std::abs(qRed(a) - qRed(b)) > limit || std::abs(qGreen(a) - qGreen(b)) > limit
           || std::abs(qBlue(a) - qBlue(b)) > limit || std::abs(qAlpha(a) - qAlpha(b)) > limit;
}

int compare(const QString &file)
{
    const QImage other = QImage(file).convertToFormat(QImage::Format_ARGB32);
    if (other.isNull() || other.width() != other.height()) {
        std::fprintf(stderr, "quorandel_icon_render: %s is no square picture\n", qPrintable(file));
        return 1;
    }
    const QImage face = clockFaceIcon(other.width()).convertToFormat(QImage::Format_ARGB32);
    int differing = 0;
    for (int y = 0; y < face.height(); ++y) {
        for (int x = 0; x < face.width(); ++x)
            differing += farApart(face.pixel(x, y), other.pixel(x, y));
    }
    const double share = double(differing) / (face.width() * face.height());
    std::printf("%s: %.2f %% of the pixels differ from the window icon\n", qPrintable(file), share * 100);
    return share <= 0.01 ? 0 : 1;
}

int render(const QString &folder, char **sizes, int count)
{
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "quorandel_icon_render: cannot make %s\n", qPrintable(folder));
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        const int size = QString::fromLatin1(sizes[i]).toInt();
        const QString file = QStringLiteral("%1/%2.png").arg(folder).arg(size);
        if (size <= 0 || !clockFaceIcon(size).save(file, "PNG")) {
            std::fprintf(stderr, "quorandel_icon_render: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && QByteArray(argv[1]) == "--compare")
        return compare(QString::fromLocal8Bit(argv[2]));
    if (argc >= 3 && argv[1][0] != '-')
        return render(QString::fromLocal8Bit(argv[1]), argv + 2, argc - 2);
    std::fprintf(stderr, "usage: quorandel_icon_render OUTPUT_FOLDER SIZE...\n"
                         "       quorandel_icon_render --compare PICTURE.png\n");
    return 2;
}
