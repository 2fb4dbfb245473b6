// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/PaletteImage.h"

#include <QHash>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

struct ColourCount
{
    QRgb colour;
    qint64 count;
};

// Runs of equal pixels are counted once per run: windows are mostly flat.
bool countColours(const QImage &image, QHash<QRgb, qint64> &counts)
{
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width();) {
            const QRgb c = line[x];
            int run = 1;
            while (x + run < image.width() && line[x + run] == c)
                ++run;
            counts[c] += run;
            x += run;
            if (counts.size() > PaletteImage::MaxColours)
                return false;
        }
    }
    return true;
}

int distance(QRgb a, QRgb b)
{
    const int r = qRed(a) - qRed(b), g = qGreen(a) - qGreen(b), bl = qBlue(a) - qBlue(b);
    return r * r + g * g + bl * bl;
}

QVector<QRgb> mostFrequent(const QHash<QRgb, qint64> &counts)
{
    std::vector<ColourCount> all;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        all.push_back({it.key(), it.value()});
    const size_t kept = std::min<size_t>(all.size(), 256);
    std::partial_sort(all.begin(), all.begin() + kept, all.end(),
                      [](const ColourCount &a, const ColourCount &b) { return a.count > b.count; });
    QVector<QRgb> palette;
    for (size_t i = 0; i < kept; ++i)
        palette << all[i].colour;
    return palette;
}

uchar nearest(const QVector<QRgb> &palette, QRgb colour)
{
    int best = 0, bestDistance = std::numeric_limits<int>::max();
    for (int i = 0; i < palette.size() && bestDistance > 0; ++i) {
        const int d = distance(palette[i], colour);
        if (d < bestDistance)
            best = i, bestDistance = d;
    }
    return uchar(best);
}

}  // namespace

QImage toPalette(const QImage &image)
{
    const QImage source = image.convertToFormat(QImage::Format_RGB32);
    QHash<QRgb, qint64> counts;
    if (source.isNull() || !countColours(source, counts))
        return image;
    const QVector<QRgb> palette = mostFrequent(counts);
    QHash<QRgb, uchar> index;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        index.insert(it.key(), nearest(palette, it.key()));
    QImage out(source.size(), QImage::Format_Indexed8);
    out.setColorTable(palette);
    for (int y = 0; y < source.height(); ++y) {
        const auto *in = reinterpret_cast<const QRgb *>(source.constScanLine(y));
        uchar *line = out.scanLine(y);
        QRgb last = in[0];
        uchar lastIndex = index.value(last);
        for (int x = 0; x < source.width(); ++x) {
            if (in[x] != last)
                lastIndex = index.value(last = in[x]);
            line[x] = lastIndex;
        }
    }
    return out;
}
