// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/PaletteImage.h"

#include <QPainter>
#include <QtTest>

namespace {
// The largest difference of one colour channel between the two pictures.
int worstChannel(const QImage &a, const QImage &b)
{
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

int distinctColours(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    return int(colours.size());
}
}  // namespace

class TstPaletteImage : public QObject
{
    Q_OBJECT
private slots:
    void pictures_data();
    void pictures();
};

void TstPaletteImage::pictures_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<bool>("palette");
    QTest::addColumn<int>("tolerance");
    QImage flat(300, 200, QImage::Format_RGB32);
    flat.fill(QColor(65, 71, 31));
    QPainter(&flat).fillRect(20, 20, 100, 50, QColor(0, 128, 0));
    QTest::newRow("flat colours exact") << flat << true << 0;

    QImage text = flat.copy();
    QPainter p(&text);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 6; ++i) {  // soft edges in many shades: well over 256 colours
        p.setPen(QPen(QColor(i * 40, 255 - i * 30, i * 20), 1.5));
        p.drawEllipse(QPointF(150, 100), 10 + i * 13.3, 8 + i * 11.7);
    }
    p.end();
    QTest::newRow("soft edges nearly exact") << text << true << 48;

    QImage noise(100, 100, QImage::Format_RGB32);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            noise.setPixel(x, y, qRgb(x * 2, y * 2, (x * y) & 0xff));
    QTest::newRow("not a window: unchanged") << noise << false << 0;
}

void TstPaletteImage::pictures()
{
    QFETCH(QImage, image);
    QFETCH(bool, palette);
    QFETCH(int, tolerance);
    if (tolerance > 0)
        QVERIFY(distinctColours(image) > 256);  // the nearest-colour path is what this row tests
    const QImage out = toPalette(image);
    QCOMPARE(out.format() == QImage::Format_Indexed8, palette);
    QCOMPARE(out.size(), image.size());
    QVERIFY(out.colorCount() <= 256);
    QVERIFY2(worstChannel(image, out) <= tolerance, qPrintable(QString::number(worstChannel(image, out))));
    QCOMPARE(out.pixel(5, 5), image.pixel(5, 5));  // the background itself is always exact
}

QTEST_MAIN(TstPaletteImage)
#include "tst_paletteimage.moc"
