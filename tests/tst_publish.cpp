// SPDX-License-Identifier: GPL-3.0-or-later
#include "Waits.h"

#include "look/Olive.h"
#include "publish/FastClockDatagram.h"
#include "publish/ImageExport.h"
#include "publish/PaletteImage.h"

#include <QtTest>

Q_DECLARE_METATYPE(FastClockState)

namespace {
// `colours` distinct colours, each pixel unlike its neighbours.
QImage pattern(const QSize &size, int colours, int seed = 0)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, 0xff000000 | (((x + seed) * 7919 + y * 104729) % colours * 0x010203 & 0xffffff));
    return image;
}

// The largest difference of one colour channel between two pictures, and
// the share of pixels that are exact.
QString difference(const QImage &a, const QImage &b)
{
    int worst = 0, exact = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
            exact += p == q;
        }
    return QString("worst %1, %2% exact").arg(worst).arg(exact * 100 / (a.width() * a.height()));
}
}  // namespace

class TstPublish : public QObject
{
    Q_OBJECT
private slots:
    // Read by the club's slave clocks, whose firmware knows this text only.
    void datagram_data()
    {
        QTest::addColumn<FastClockState>("state");
        QTest::addColumn<QByteArray>("sent");
        const auto state = [](const QString &name, const QString &text, bool active, int speed, int seconds) {
            return FastClockState{name, "10.77.0.1", 8080, text, active, speed, seconds, 2};
        };
        const auto sent = [](const QByteArray &name, const QByteArray &text, const char *active, int speed, const char *clock) {
            return "fastclock\r\nversion=2\r\nname=" + name + "\r\nip-address=10.77.0.1\r\nip-port=8080\r\ntext="
                   + text + "\r\nclocktype=fastclock\r\nactive=" + active + "\r\nspeed=" + QByteArray::number(speed)
                   + "\r\nclock=" + clock + "\r\nweekday=none\r\ninterval=2\r\n";
        };
        const QString text255(255, u'x');
        QTest::newRow("running") << state("Quorandel", "Hall 2", true, 4, 45296) << sent("Quorandel", "Hall 2", "yes", 4, "12:34:56");
        QTest::newRow("line breaks") << state("N\r\nS", "one\ntwo\rthree\tfour\u2028five", true, 2, 60)
                                     << sent("N  S", "one two three four five", "yes", 2, "00:01:00");
        // Cut by characters: one outside the BMP counts as one and is never split.
        QTest::newRow("cut, UTF-8") << state(QString(19, u'\u00e4') + "\U0001F682x", text255 + "\u00fc", false, 5, 3600)
                                    << sent(QString(19, u'\u00e4').toUtf8() + "\xF0\x9F\x9A\x82", text255.toUtf8(), "no",
                                            5, "01:00:00");
    }
    void datagram()
    {
        QFETCH(FastClockState, state);
        QTEST(fastClockDatagram(state), "sent");
    }

    // A window is flat colour but for the soft edges of its text: up to 256
    // colours are kept exactly, the 256 most frequent of more, each other
    // taking its nearest; a picture of far more colours is left as it is.
    void palette_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<bool>("indexed");
        QTest::addColumn<QString>("difference");
        QImage window(300, 200, QImage::Format_RGB32);  // the upper quarter two steps greener
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 300; ++x)
                window.setPixel(x, y, qRgb(x % 256, y < 50 ? 2 : 0, 128));
        QTest::newRow("256 colours exact") << window.copy(0, 50, 300, 150) << true << "worst 0, 100% exact";
        QTest::newRow("512 colours, nearest") << window << true << "worst 2, 75% exact";
        QTest::newRow("not a window: unchanged") << pattern(QSize(300, 200), 5000) << false << "worst 0, 100% exact";
    }
    void palette()
    {
        QFETCH(QImage, image);
        const QImage out = toPalette(image);
        QTEST(out.format() == QImage::Format_Indexed8, "indexed");
        QTEST(difference(image, out), "difference");
    }

    // A worker held up by a slow disk: the seconds it cannot take are skipped
    // and counted, and the event loop goes on meanwhile. Whoever reads the
    // picture gets a whole PNG: one read at any moment, or a transfer that
    // opened it before and reads it chunk by chunk while it is replaced.
    void pictureFilesAndSkippedSeconds()
    {
        QTemporaryDir root;
        const QString folder = root.filePath("share/Quorandel");  // the data folder may be missing too
        QImage window = pattern(QSize(1350, 1100), 200);  // a palette picture, as a window's is
        ImageExport exporter(folder, [&] { return window; });
        QSignalSpy written(&exporter, &ImageExport::pictureWritten);
        exporter.ExportTick();
        QVERIFY(written.wait(10000));
        // The window is narrower than the canvas and taller: the capture sits
        // unscaled at the top-left corner, cut at the bottom, background beside it.
        const QImage picture = QImage(exporter.publishedPath()).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(picture.size(), ImageExport::kCanvasSize);
        int wrong = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                wrong += picture.pixel(x, y) != (x < window.width() ? window.pixel(x, y) : Olive);
        QCOMPARE(wrong, 0);
        // Only the picture is left, and whatever serves the web root may run as another user.
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList("Quorandel.png"));
        QVERIFY(QFileInfo(exporter.publishedPath()).permissions() & QFile::ReadOther);
        const QByteArray first = contentOf(exporter.publishedPath());
        QFile transfer(exporter.publishedPath());
        QVERIFY(transfer.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
        QByteArray sent = transfer.read(4096);
        connect(&exporter, &ImageExport::pictureWritten, this, [&] { sent += transfer.read(4096); });
        window = pattern(window.size(), 200, 1);
        exporter.setWorkerDelay(600);
        int probes = 0, brokenReads = 0;
        QTimer probe;
        connect(&probe, &QTimer::timeout, this, [&] {
            ++probes;
            exporter.ExportTick();
            const QByteArray read = contentOf(exporter.publishedPath());
            brokenReads += !read.startsWith("\x89PNG\r\n\x1a\n") || !read.endsWith(QByteArray("IEND\xae\x42\x60\x82", 8));
        });
        probe.start(5);
        QVERIFY(written.wait(10000) && written.wait(10000));
        probe.stop();
        QCOMPARE(brokenReads, 0);
        QVERIFY2(probes >= 20, qPrintable(QString("%1 probes while two pictures were written").arg(probes)));
        // Two pictures, perhaps a third begun: every other probe was skipped.
        QVERIFY2(exporter.skippedSeconds() >= probes - 3, qPrintable(QString("%1 of %2 skipped").arg(exporter.skippedSeconds()).arg(probes)));
        QVERIFY(contentOf(exporter.publishedPath()) != first);
        QCOMPARE(sent + transfer.readAll(), first);
    }
};

QTEST_MAIN(TstPublish)
#include "tst_publish.moc"
