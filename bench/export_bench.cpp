// Times the image export on a stand-in for the main window: each step of a
// tick on its own, whole ticks, the size of the published picture, and the
// longest stretch one tick keeps the event loop from serving anything else
// (measured from outside, by a zero-interval timer that runs at every yield).
//
//   export_bench [ticks]     (run with QT_QPA_PLATFORM=offscreen)

#include "publish/FreeImageBitmap.h"
#include "publish/ImageExport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

// After the Qt headers: it defines BOOL, TRUE and friends as macros.
#include <FreeImage.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// The main window's layout at 15 twips a pixel, with the fonts this system has.
class StandInWindow : public QMainWindow
{
public:
    StandInWindow()
    {
        for (const char *item : {"Configuration", "Set Quorandel", "End and Save Settings", "Help"})
            menuBar()->addAction(item);
        auto *client = new QWidget(this);
        client->setStyleSheet("background-color: rgb(65, 71, 31);");
        setCentralWidget(client);
        addText(client, "Quorandel Web Server is 192.168.1.10:8080", QRect(0, 0, 1361, 44), 40, false);
        addButton(client, "Start Clock", QRect(368, 104, 238, 73), "rgb(0, 128, 0)");
        addButton(client, "Stop Clock", QRect(752, 96, 238, 73), "rgb(192, 0, 0)");
        addText(client, "12:34 ", QRect(16, 256, 1361, 481), 467, true);
        auto *status = new QLabel("Listening", client);
        status->setGeometry(8, 64, 157, 20);
        resize(1350, 1100);
    }

private:
    static void addText(QWidget *parent, const QString &text, const QRect &rect, int pixels, bool bold)
    {
        auto *box = new QLineEdit(text, parent);
        QFont font(bold ? "Liberation Sans Narrow" : "Liberation Sans");
        font.setPixelSize(pixels);
        font.setBold(bold);
        box->setFont(font);
        box->setFrame(false);
        box->setStyleSheet("color: black;");
        box->setGeometry(rect);
    }
    static void addButton(QWidget *parent, const QString &caption, const QRect &rect, const QString &colour)
    {
        auto *button = new QPushButton(caption, parent);
        QFont font("Liberation Sans");
        font.setPixelSize(24);
        button->setFont(font);
        button->setStyleSheet("background-color: " + colour + ";");
        button->setGeometry(rect);
    }
};

class Samples
{
public:
    void add(double ms) { m_ms.push_back(ms); }
    double median() const
    {
        std::vector<double> v = m_ms;
        std::sort(v.begin(), v.end());
        return v.empty() ? 0 : v[v.size() / 2];
    }
    double max() const { return m_ms.empty() ? 0 : *std::max_element(m_ms.begin(), m_ms.end()); }

private:
    std::vector<double> m_ms;
};

double msSince(const QElapsedTimer &t)
{
    return t.nsecsElapsed() / 1e6;
}

void print(const char *name, const Samples &s)
{
    std::printf("  %-30s median %7.2f ms   max %7.2f ms\n", name, s.median(), s.max());
}

// The steps of ExportTick, one at a time, in its order.
void timeSteps(ImageExport &exporter, int ticks)
{
    Samples steps[5];
    Samples sum;
    for (int i = 0; i < ticks; ++i) {
        QElapsedTimer t;
        double total = 0;
        auto lap = [&](int step) { const double ms = msSince(t); steps[step].add(ms); total += ms; t.start(); };
        t.start();
        exporter.makeFolder();
        exporter.capture();
        lap(0);
        exporter.writeCaptureFile();
        lap(1);
        FreeImageBitmap bitmap = FreeImageBitmap::loadBmp(exporter.capturePath());
        lap(2);
        QFile::remove(exporter.capturePath());
        bitmap.savePng(exporter.temporaryPath());
        bitmap.unload();
        lap(3);
        exporter.publishTemporary();
        lap(4);
        sum.add(total);
    }
    std::printf("steps of one tick (%d ticks):\n", ticks);
    const char *names[] = {"capture (grab)", "BMP write (canvas + file)", "FreeImage load (BMP)",
                           "PNG save (+ delete, unload)", "publish (check, copy, delete)"};
    for (int step = 0; step < 5; ++step)
        print(names[step], steps[step]);
    print("sum of the steps", sum);
}

// Whole ticks on the event loop, with a zero-interval timer standing in for
// the clock, the broadcast and the web server: it runs at every yield, so the
// longest gap between its runs is the longest the loop was held.
void timeTicks(ImageExport &exporter, int ticks)
{
    Samples whole, held;
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    double longest = 0;
    QTimer other;
    other.setInterval(0);
    QObject::connect(&other, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, (now - last) / 1e6);
        last = now;
    });
    other.start();
    for (int i = 0; i < ticks; ++i) {
        const qint64 start = clock.nsecsElapsed();
        last = start;
        longest = 0;
        exporter.ExportTick();
        const qint64 end = clock.nsecsElapsed();
        longest = std::max(longest, (end - last) / 1e6);
        whole.add((end - start) / 1e6);
        held.add(longest);
    }
    std::printf("whole ticks on the event loop (%d ticks):\n", ticks);
    print("ExportTick", whole);
    print("longest stretch held", held);
}

// Not what the export does (it saves with flags 0): how much of the PNG save is
// zlib's level, so the figures can be weighed against the 40 ms budget.
void comparePngFlags(ImageExport &exporter, int ticks)
{
    exporter.capture();
    exporter.writeCaptureFile();
    FIBITMAP *bitmap = FreeImage_Load(FIF_BMP, QFile::encodeName(exporter.capturePath()).constData(), 0);
    QFile::remove(exporter.capturePath());
    const QString path = exporter.folder() + "/compare.png";
    const std::pair<const char *, int> flags[] = {{"flags 0 (default, zlib 6)", PNG_DEFAULT},
                                                  {"PNG_Z_BEST_SPEED (zlib 1)", PNG_Z_BEST_SPEED},
                                                  {"PNG_Z_NO_COMPRESSION", PNG_Z_NO_COMPRESSION}};
    std::printf("for comparison, FreeImage PNG save by flags (%d saves each):\n", ticks);
    for (const auto &[name, flag] : flags) {
        Samples save;
        for (int i = 0; i < ticks; ++i) {
            QElapsedTimer t;
            t.start();
            FreeImage_Save(FIF_PNG, bitmap, QFile::encodeName(path).constData(), flag);
            save.add(msSince(t));
        }
        std::printf("  %-30s median %7.2f ms   max %7.2f ms   %lld bytes\n", name, save.median(),
                    save.max(), QFileInfo(path).size());
    }
    FreeImage_Unload(bitmap);
    QFile::remove(path);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int ticks = argc > 1 ? std::max(1, atoi(argv[1])) : 30;
    StandInWindow window;
    QTemporaryDir root;
    ImageExport exporter(root.filePath("Quorandel"), [&window] { return window.grab().toImage(); });
    for (int i = 0; i < 3; ++i)
        exporter.ExportTick();

    std::printf("stand-in window %dx%d, canvas %dx%d\n", window.width(), window.height(),
                ImageExport::kCanvasSize.width(), ImageExport::kCanvasSize.height());
    timeSteps(exporter, ticks);
    timeTicks(exporter, ticks);
    std::printf("published PNG: %lld bytes\n", QFileInfo(exporter.publishedPath()).size());
    comparePngFlags(exporter, ticks);
    return 0;
}
