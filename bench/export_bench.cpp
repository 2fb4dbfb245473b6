// SPDX-License-Identifier: GPL-3.0-or-later
// Times the image export on a stand-in for the main window: the grab and the
// worker's job on their own, the longest stretch one picture keeps the event
// loop from serving anything else (measured from outside, by a zero-interval
// timer), beside the same with the whole job on the loop, and the size of the
// published picture.
//
//   export_bench [ticks]     (run with QT_QPA_PLATFORM=offscreen)

#include "publish/CaptureCanvas.h"
#include "publish/ImageExport.h"
#include "publish/PaletteImage.h"

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
using SnapWindow = ImageExport::SnapWindow;

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

// The two halves of one second's picture, each on its own: the grab, which
// must stay on the event loop, and the worker's job.
void timeHalves(const SnapWindow &snap, const QString &folder, int ticks)
{
    Samples grab, job;
    for (int i = 0; i < ticks; ++i) {
        QElapsedTimer t;
        t.start();
        const QImage image = snap();
        grab.add(msSince(t));
        t.start();
        ImageExport::writePicture(image, folder);
        job.add(msSince(t));
    }
    std::printf("one picture, its halves (%d pictures):\n", ticks);
    print("grab (event loop)", grab);
    print("canvas, palette, BMP, PNG, publish", job);
}

// The longest the event loop is kept from serving anything else by one
// picture, seen from outside by a zero-interval timer: first with the whole
// job on the loop (the baseline), then as the program does it, the grab on
// the loop and the rest on the worker. Each picture starts when the previous
// one is written, so the worker is never idle.
void timeLoopHold(StandInWindow &window, ImageExport &exporter, int ticks)
{
    Samples onLoop, withWorker;
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    double longest = 0;
    QTimer probe;
    probe.setInterval(0);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, (now - last) / 1e6);
        last = now;
    });
    int done = 0;
    QTimer::singleShot(0, [&] {
        for (int i = 0; i < ticks; ++i) {
            const qint64 start = clock.nsecsElapsed();
            ImageExport::writePicture(window.grab().toImage(), exporter.folder());
            onLoop.add((clock.nsecsElapsed() - start) / 1e6);
        }
        last = clock.nsecsElapsed();
        longest = 0;
        exporter.ExportTick();
    });
    QObject::connect(&exporter, &ImageExport::pictureWritten, [&] {
        withWorker.add(longest);
        longest = 0;
        if (++done < ticks)
            exporter.ExportTick();
        else
            QCoreApplication::quit();
    });
    probe.start();
    QCoreApplication::exec();
    std::printf("longest stretch the event loop is held by one picture (%d pictures):\n", ticks);
    print("baseline: whole job on the loop", onLoop);
    print("grab on the loop, rest on worker", withWorker);
}

// Not what the export does (it saves with flags 0): how much of the PNG save is
// zlib's level, so the figures can be weighed against the 40 ms budget.
void comparePngFlags(const SnapWindow &snap, ImageExport &exporter, int ticks)
{
    const QImage canvas = composeCanvas(snap(), ImageExport::kCanvasSize,
                                        QColor::fromRgb(ImageExport::kCanvasBackground));
    toPalette(canvas).save(exporter.capturePath(), "BMP");
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
    const SnapWindow snap = [&window] { return window.grab().toImage(); };
    ImageExport exporter(root.filePath("Quorandel"), snap);
    for (int i = 0; i < 3; ++i)
        ImageExport::writePicture(snap(), exporter.folder());

    std::printf("stand-in window %dx%d, canvas %dx%d\n", window.width(), window.height(),
                ImageExport::kCanvasSize.width(), ImageExport::kCanvasSize.height());
    timeHalves(snap, exporter.folder(), ticks);
    timeLoopHold(window, exporter, ticks);
    std::printf("published PNG: %lld bytes, %d seconds skipped\n", QFileInfo(exporter.publishedPath()).size(),
                exporter.skippedSeconds());
    comparePngFlags(snap, exporter, ticks);
    return 0;
}
