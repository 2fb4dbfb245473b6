// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/ImageExport.h"
#include "look/Olive.h"

#include "Fixtures.h"

#include <QtTest>
#include <QtWidgets>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
// Every pixel differs from its neighbours and from the background; `seed`
// makes each picture unique.
QImage pattern(const QSize &size, int seed = 0)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb((x + seed) & 0xff, y & 0xff, 128 + ((x >> 8) ^ (y >> 8)) * 16));
    return image;
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

QImage published(const ImageExport &exporter)
{
    return QImage(exporter.publishedPath()).convertToFormat(QImage::Format_RGB32);
}

// From its signature to its end chunk: a file cut short or half written fails.
bool isWholePng(const QByteArray &bytes)
{
    return bytes.startsWith("\x89PNG\r\n\x1a\n") && bytes.endsWith(QByteArray("IEND\xae\x42\x60\x82", 8));
}

// One second's picture, grabbed now and written by the worker.
bool exportOnce(ImageExport &exporter)
{
    QSignalSpy written(&exporter, &ImageExport::pictureWritten);
    exporter.ExportTick();
    return written.wait(10000);
}
}  // namespace

class TstImageExport : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_root;
    QString m_folder;
    QImage m_window;  // what the snapshot hands out
    ImageExport::SnapWindow snap()
    {
        return [this] { return m_window; };
    }

private slots:
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        m_folder = m_root->filePath("share/Quorandel");  // the data folder may be missing too
        m_window = pattern(QSize(1350, 1100));
    }

    // The window is narrower than the canvas and taller: the capture sits
    // unscaled at the top-left corner, cut at the bottom, background beside it.
    void tickLeavesOnlyThePicture()
    {
        ImageExport exporter(m_folder, snap());
        exporter.start();
        QCOMPARE(exporter.Timer2().interval(), 1000);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(exporter.publishedPath()), 5000);
        QCOMPARE(filesIn(m_folder), QStringList{"Quorandel.png"});
        // Whatever serves the web root may run as another user.
        QVERIFY(QFileInfo(exporter.publishedPath()).permissions() & QFile::ReadOther);
        const QImage picture = published(exporter);
        QCOMPARE(picture.size(), ImageExport::kCanvasSize);
        QVERIFY(m_window.width() < picture.width() && m_window.height() > picture.height());
        const QRgb background = Olive;
        int wrong = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                wrong += picture.pixel(x, y) != (x < m_window.width() ? m_window.pixel(x, y) : background);
        QCOMPARE(wrong, 0);
    }

    // The digits must come through the BMP and the PNG as the window drew them.
    void pictureShowsTheDigits()
    {
        QWidget window;
        window.resize(1350, 1100);
        window.setStyleSheet("background-color: rgb(65, 71, 31);");
        QLabel time("12:34 ", &window);
        time.setStyleSheet("color: black; font: bold 400px \"Liberation Sans Narrow\";");
        time.setGeometry(16, 256, 1361, 481);
        ImageExport exporter(m_folder, [&window] { return window.grab().toImage(); });
        QVERIFY(exportOnce(exporter));

        const QRect shown = time.geometry() & QRect(QPoint(), ImageExport::kCanvasSize);
        const QImage digits = time.grab().toImage().convertToFormat(QImage::Format_RGB32)
                                  .copy(QRect(QPoint(0, 0), shown.size()));
        QCOMPARE(published(exporter).copy(shown), digits);
        int black = 0;
        for (int y = 0; y < digits.height(); ++y)
            for (int x = 0; x < digits.width(); ++x)
                black += digits.pixel(x, y) == qRgb(0, 0, 0);
        QVERIFY2(black > 20000, qPrintable(QString("only %1 black pixels").arg(black)));
    }

    void lockedTemporaryIsNeitherCopiedNorDeleted_data()
    {
        QTest::addColumn<int>("lock");
        QTest::newRow("exclusive") << LOCK_EX;
        QTest::newRow("shared") << LOCK_SH;
    }
    // Another program holds a lock on the temporary PNG.
    void lockedTemporaryIsNeitherCopiedNorDeleted()
    {
        QFETCH(int, lock);
        ImageExport exporter(m_folder, snap());
        QVERIFY(exportOnce(exporter));
        const QByteArray before = contentOf(exporter.publishedPath());
        QVERIFY(!before.isEmpty());
        m_window = pattern(m_window.size(), 77);
        const int fd = ::open(QFile::encodeName(exporter.temporaryPath()).constData(), O_RDWR | O_CREAT, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, lock | LOCK_NB), 0);
        QVERIFY(exportOnce(exporter));
        QCOMPARE(contentOf(exporter.publishedPath()), before);
        QVERIFY(QFile::exists(exporter.temporaryPath()));

        ::close(fd);
        QVERIFY(exportOnce(exporter));
        QVERIFY(contentOf(exporter.publishedPath()) != before);
        QCOMPARE(filesIn(m_folder), QStringList{"Quorandel.png"});
    }

    // A transfer that opened the picture reads it whole, however many
    // replacements happen while it reads chunk by chunk.
    void overlappingReadGetsOneWholePicture()
    {
        ImageExport exporter(m_folder, snap());
        QVERIFY(exportOnce(exporter));
        const QByteArray first = contentOf(exporter.publishedPath());
        QFile transfer(exporter.publishedPath());
        QVERIFY(transfer.open(QIODevice::ReadOnly));
        QByteArray sent = transfer.read(8192);
        for (int seed = 1; seed <= 2; ++seed) {
            m_window = pattern(m_window.size(), seed * 50);
            QVERIFY(exportOnce(exporter));
            sent += transfer.read(8192);
        }
        sent += transfer.readAll();
        QVERIFY(contentOf(exporter.publishedPath()) != first);
        QCOMPARE(sent, first);
        QCOMPARE(QImage::fromData(sent, "PNG").size(), ImageExport::kCanvasSize);
    }

    // A worker held up by a slow disk: the seconds it cannot take are skipped
    // and counted, the event loop goes on serving its timers meanwhile, and
    // whoever reads the picture at any moment gets a whole PNG.
    void slowWorkerSkipsSecondsAndNeverBlocks()
    {
        ImageExport exporter(m_folder, snap());
        QVERIFY(exportOnce(exporter));
        exporter.setWorkerDelay(600);
        QSignalSpy written(&exporter, &ImageExport::pictureWritten);
        int probes = 0, wholeReads = 0, brokenReads = 0;
        QTimer probe;
        probe.setInterval(5);
        connect(&probe, &QTimer::timeout, [&] {
            ++probes;
            exporter.ExportTick();
            const QByteArray read = contentOf(exporter.publishedPath());
            (isWholePng(read) ? wholeReads : brokenReads) += 1;
        });
        probe.start();
        QVERIFY(written.wait(10000));
        QVERIFY(written.wait(10000));
        probe.stop();
        QCOMPARE(brokenReads, 0);
        QCOMPARE(QImage(exporter.publishedPath()).size(), ImageExport::kCanvasSize);
        QVERIFY2(probes >= 20, qPrintable(QString("the loop ran %1 probes while two pictures were written").arg(probes)));
        // Two pictures, perhaps a third begun: every other probe was skipped.
        QVERIFY2(exporter.skippedSeconds() >= probes - 3,
                 qPrintable(QString("%1 of %2 skipped").arg(exporter.skippedSeconds()).arg(probes)));
    }
};

QTEST_MAIN(TstImageExport)
#include "tst_imageexport.moc"
