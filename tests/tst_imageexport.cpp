#include "publish/ImageExport.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const QColor kBackground = QColor::fromRgb(ImageExport::kCanvasBackground);

// A picture no canvas pixel can be mistaken for: every pixel differs from its
// neighbours and from the background, and `seed` makes each picture unique.
QImage pattern(const QSize &size, int seed = 0)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = qRgb((x + seed) & 0xff, y & 0xff, 128 + ((x >> 8) ^ (y >> 8)) * 16);
    }
    return image;
}

QByteArray contentOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

} // namespace

class TstImageExport : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void firstTickLeavesOnlyThePicture_data();
    void firstTickLeavesOnlyThePicture();
    void pictureHasCanvasSize_data();
    void pictureHasCanvasSize();
    void pictureShowsTheTimeDisplay();
    void tickYieldsWithTemporaryPngHidden();
    void lockedTemporaryIsNeitherCopiedNorDeleted();
    void overlappingTransferGetsOneWholePicture();
    void failureBeforeLastStageSkipsTick_data();
    void failureBeforeLastStageSkipsTick();
    void startArmsTimer2();

private:
    std::unique_ptr<QTemporaryDir> m_root;
    QString m_folder;
    QImage m_window;  // what the snapshot function hands out
    ImageExport::SnapWindow snap()
    {
        return [this] { return m_window; };
    }
};

void TstImageExport::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    m_folder = m_root->filePath("Quorandel");
    m_window = pattern(QSize(1350, 1100));
}

void TstImageExport::firstTickLeavesOnlyThePicture_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("exists");
    QTest::newRow("fresh start") << "Quorandel" << false;
    QTest::newRow("existing empty folder") << "Quorandel" << true;
    QTest::newRow("data folder missing too") << "share/Quorandel" << false;
}

void TstImageExport::firstTickLeavesOnlyThePicture()
{
    QFETCH(QString, folder);
    QFETCH(bool, exists);
    m_folder = m_root->filePath(folder);
    if (exists)
        QVERIFY(QDir().mkpath(m_folder));
    ImageExport exporter(m_folder, snap());

    exporter.ExportTick();

    QCOMPARE(filesIn(m_folder), QStringList{"Quorandel.png"});
    QCOMPARE(QImage(exporter.publishedPath()).size(), ImageExport::kCanvasSize);
}

void TstImageExport::pictureHasCanvasSize_data()
{
    QTest::addColumn<QSize>("window");
    QTest::newRow("larger") << QSize(1500, 1000);
    QTest::newRow("smaller") << QSize(700, 400);
    QTest::newRow("wider, not as tall") << QSize(1400, 500);
    QTest::newRow("narrower, taller") << QSize(900, 1100);
    QTest::newRow("exactly the canvas") << ImageExport::kCanvasSize;
}

// The capture sits unscaled at the top-left corner; beyond it the background.
void TstImageExport::pictureHasCanvasSize()
{
    QFETCH(QSize, window);
    m_window = pattern(window);
    ImageExport exporter(m_folder, snap());
    exporter.ExportTick();

    const QImage picture = QImage(exporter.publishedPath()).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(picture.size(), ImageExport::kCanvasSize);
    int wrong = 0;
    QPoint firstWrong;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const bool covered = x < window.width() && y < window.height();
            const QRgb expected = covered ? m_window.pixel(x, y) : kBackground.rgb();
            if (picture.pixel(x, y) != expected && wrong++ == 0)
                firstWrong = QPoint(x, y);
        }
    }
    QVERIFY2(wrong == 0, qPrintable(QString("%1 pixels wrong, first at %2,%3")
                                        .arg(wrong).arg(firstWrong.x()).arg(firstWrong.y())));
}

// The digits must come through the BMP and the PNG as the window drew them.
void TstImageExport::pictureShowsTheTimeDisplay()
{
    QWidget window;
    window.resize(1350, 1100);
    window.setStyleSheet("background-color: rgb(65, 71, 31);");
    QLabel time("12:34 ", &window);
    QFont font("Liberation Sans Narrow");
    font.setBold(true);
    font.setPixelSize(400);
    time.setFont(font);
    time.setStyleSheet("color: black;");
    time.setGeometry(16, 256, 1361, 481);
    ImageExport exporter(m_folder, [&window] { return window.grab().toImage(); });

    exporter.ExportTick();

    const QImage picture = QImage(exporter.publishedPath()).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(picture.size(), ImageExport::kCanvasSize);
    const QRect shown = time.geometry() & picture.rect();
    const QImage digits = time.grab().toImage().convertToFormat(QImage::Format_RGB32)
                              .copy(QRect(QPoint(0, 0), shown.size()));
    QCOMPARE(picture.copy(shown), digits);
    int black = 0;
    for (int y = 0; y < digits.height(); ++y)
        for (int x = 0; x < digits.width(); ++x)
            black += digits.pixel(x, y) == qRgb(0, 0, 0);
    QVERIFY2(black > 20000, qPrintable(QString("only %1 black pixels").arg(black)));
}

// Other handlers run at the tick's yields. They may find the capture file (it
// lives across the second yield) but never the temporary PNG.
void TstImageExport::tickYieldsWithTemporaryPngHidden()
{
    ImageExport exporter(m_folder, snap());
    bool inTick = false;
    int runs = 0, sawCapture = 0, sawTemporary = 0;
    QTimer other;
    other.setInterval(0);
    connect(&other, &QTimer::timeout, this, [&] {
        if (!inTick)
            return;
        ++runs;
        sawCapture += QFile::exists(exporter.capturePath());
        sawTemporary += QFile::exists(exporter.temporaryPath());
    });
    other.start();

    inTick = true;
    exporter.ExportTick();
    inTick = false;

    QVERIFY2(runs >= 2, qPrintable(QString("other handlers ran %1 times").arg(runs)));
    QVERIFY(sawCapture >= 1);
    QCOMPARE(sawTemporary, 0);
}

void TstImageExport::lockedTemporaryIsNeitherCopiedNorDeleted()
{
    ImageExport exporter(m_folder, snap());
    exporter.ExportTick();
    const QByteArray published = contentOf(exporter.publishedPath());
    QVERIFY(!published.isEmpty());
    m_window = pattern(m_window.size(), 77);

    // Another program holds the temporary PNG.
    const int fd = ::open(QFile::encodeName(exporter.temporaryPath()).constData(), O_RDWR | O_CREAT, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    exporter.ExportTick();
    QCOMPARE(contentOf(exporter.publishedPath()), published);
    QVERIFY(QFile::exists(exporter.temporaryPath()));

    ::close(fd);
    exporter.ExportTick();
    QVERIFY(contentOf(exporter.publishedPath()) != published);
    QCOMPARE(filesIn(m_folder), QStringList{"Quorandel.png"});
}

// What a web transfer relies on: the picture it opened stays whole however
// many replacements happen while it reads chunk by chunk. The web server's
// own test covers the transfer end to end.
void TstImageExport::overlappingTransferGetsOneWholePicture()
{
    ImageExport exporter(m_folder, snap());
    exporter.ExportTick();
    const QByteArray first = contentOf(exporter.publishedPath());

    QFile transfer(exporter.publishedPath());
    QVERIFY(transfer.open(QIODevice::ReadOnly));
    QByteArray sent = transfer.read(8192);
    for (int seed = 1; seed <= 2; ++seed) {
        m_window = pattern(m_window.size(), seed * 50);
        exporter.ExportTick();
        sent += transfer.read(8192);
    }
    sent += transfer.readAll();

    QVERIFY(contentOf(exporter.publishedPath()) != first);
    QCOMPARE(sent, first);
    QCOMPARE(QImage::fromData(sent, "PNG").size(), ImageExport::kCanvasSize);
}

void TstImageExport::failureBeforeLastStageSkipsTick_data()
{
    QTest::addColumn<QString>("breakage");
    QTest::newRow("folder cannot be made") << "folder";
    QTest::newRow("no window picture") << "snapshot";
    QTest::newRow("capture file cannot be written") << "capture";
}

// The published picture keeps its content and nothing is left behind.
void TstImageExport::failureBeforeLastStageSkipsTick()
{
    QFETCH(QString, breakage);
    if (breakage == "folder") {
        QFile blocker(m_root->filePath("file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        ImageExport blocked(m_root->filePath("file/Quorandel"), snap());
        blocked.ExportTick();
        QVERIFY(!QFileInfo::exists(blocked.folder()));
        return;
    }
    ImageExport exporter(m_folder, snap());
    exporter.ExportTick();
    const QByteArray published = contentOf(exporter.publishedPath());
    QVERIFY(!published.isEmpty());
    m_window = pattern(m_window.size(), 99);

    QStringList expected{"Quorandel.png"};
    if (breakage == "snapshot")
        m_window = QImage();
    if (breakage == "capture") {
        QVERIFY(QDir(m_folder).mkdir("Quorandel.bmp"));
        expected.prepend("Quorandel.bmp");
    }

    exporter.ExportTick();

    QCOMPARE(contentOf(exporter.publishedPath()), published);
    QCOMPARE(filesIn(m_folder), expected);
}

void TstImageExport::startArmsTimer2()
{
    ImageExport exporter(m_folder, snap());
    QVERIFY(!exporter.Timer2().isRunning());

    exporter.start();

    QCOMPARE(exporter.Timer2().interval(), 1000);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(exporter.publishedPath()), 5000);
}

QTEST_MAIN(TstImageExport)
#include "tst_imageexport.moc"
