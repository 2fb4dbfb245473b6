// SPDX-License-Identifier: GPL-3.0-or-later
// Times the image export of the program's own main window, with the clock
// running at 8:1 so that the large time display is drawn: the grab and the
// worker's job on their own, the longest stretch one picture keeps the event
// loop from serving anything else (measured from outside, by a 1 ms
// timer), beside the same with the whole job on the loop, and the size of the
// published picture.
//
//   export_bench [ticks]     (run by export.sh: offscreen, in a private network
//                             namespace, with a scratch data folder)

#include "app/FPortula.h"
#include "app/WindowPicture.h"
#include "look/Olive.h"
#include "publish/CaptureCanvas.h"
#include "publish/ImageExport.h"
#include "publish/PaletteImage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

// After the Qt headers: it defines BOOL, TRUE and friends as macros.
#include <FreeImage.h>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <vector>

namespace {
using SnapWindow = ImageExport::SnapWindow;

class Samples
{
public:
    void add(double ms) { m_ms.push_back(ms); }
    double median() const { return quantile(0.5); }
    double quantile(double q) const
    {
        std::vector<double> v = m_ms;
        std::sort(v.begin(), v.end());
        return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(q * double(v.size())))];
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
    std::printf("  %-30s median %7.2f ms   p90 %7.2f ms   max %7.2f ms\n", name, s.median(), s.quantile(0.9),
                s.max());
}

// The two halves of one second's picture, each on its own: the grab, which
// must stay on the event loop, and the worker's job. The grab is timed three
// ways: QWidget::grab() of the whole window (the baseline), and as the program
// grabs, in a second when the time display kept its text and in one when it
// changed (once a model minute).
void timeHalves(const SnapWindow &wholeWindow, const SnapWindow &program, const std::function<void()> &nextMinute,
                const QString &folder, int ticks)
{
    Samples whole, kept, changed, job;
    for (int i = 0; i < ticks; ++i) {
        QElapsedTimer t;
        t.start();
        wholeWindow();
        whole.add(msSince(t));
        {
            t.start();
            const QImage image = program();
            kept.add(msSince(t));
            t.start();
            ImageExport::writePicture(image, folder);
            job.add(msSince(t));
        }
        // Only once the picture before is let go, as in the program: a grab
        // into an image still shared would copy it first.
        nextMinute();
        t.start();
        program();
        changed.add(msSince(t));
    }
    std::printf("one picture, its halves (%d pictures):\n", ticks);
    print("grab, QWidget::grab (baseline)", whole);
    print("grab as the program does it", kept);
    print("  the same, a new model minute", changed);
    print("canvas, palette, BMP, PNG, publish", job);
}

// The longest the event loop is kept from serving anything else by one
// picture, seen from outside by a 1 ms timer (its lateness, which also holds
// what the worker's run costs the loop's thread), and the export's handler
// timed from inside: first as the
// program does it, the grab on the loop and the rest on the worker, each
// picture started when the previous one is written so that the worker is never
// idle; then the baseline, the whole job on the loop. The measured pictures
// start after two seconds of the clock running and five pictures unmeasured, so
// that what the program does once (its start, the first drawing of each font,
// the worker's thread) is not counted as the export's.
void timeLoopHold(const SnapWindow &snap, ImageExport &exporter, int ticks)
{
    Samples onLoop, withWorker, handler;
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    double longest = 0;
    // A 1 ms probe, not a zero-interval one: a loop that spins on a zero
    // timer competes with the worker for the two cores, and the scheduler's
    // turns would be counted as the loop being held.
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, (now - last) / 1e6 - 1.0);
        last = now;
    });
    constexpr int WarmUp = 5;
    int done = -WarmUp;
    bool measuring = false;
    QTimer::singleShot(2000, [&] {
        measuring = true;
        longest = 0;
        exporter.ExportTick();
    });
    QObject::connect(&exporter, &ImageExport::pictureWritten, [&] {
        // A picture of the program's own once-a-second tick is not one of them.
        if (!measuring)
            return;
        if (done >= 0)
            withWorker.add(longest);
        longest = 0;
        if (++done < ticks) {
            const qint64 start = clock.nsecsElapsed();
            exporter.ExportTick();
            if (done > 0)
                handler.add((clock.nsecsElapsed() - start) / 1e6);
            return;
        }
        measuring = false;
        for (int i = 0; i < ticks; ++i) {
            const qint64 start = clock.nsecsElapsed();
            ImageExport::writePicture(snap(), exporter.folder());
            onLoop.add((clock.nsecsElapsed() - start) / 1e6);
        }
        QCoreApplication::quit();
    });
    probe.start();
    QCoreApplication::exec();
    std::printf("longest stretch the event loop is held by one picture (%d pictures):\n", ticks);
    print("baseline: whole job on the loop", onLoop);
    print("grab on the loop, rest on worker", withWorker);
    print("  its handler alone, timed inside", handler);
}

// Not what the export does (it saves with flags 0): how much of the PNG save is
// zlib's level, so the figures can be weighed against the 40 ms budget.
void comparePngFlags(const SnapWindow &snap, ImageExport &exporter, int ticks)
{
    const QImage canvas = composeCanvas(snap(), ImageExport::kCanvasSize,
                                        QColor::fromRgb(Olive));
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
    FPortula window(AppPaths::standard());
    QString error;
    if (!window.Form_Load(&error)) {
        std::fprintf(stderr, "export_bench: %s\n", qPrintable(error));
        return 1;
    }
    window.master().clock().setSpeed(8);
    window.StartClock->click();
    // The first tick, at once, so that the time display holds the model time.
    window.master().clock().tick();
    const SnapWindow snap = [&window] { return window.grab().toImage(); };
    WindowPicture picture(window);
    picture.setTimeDisplay(window.Text1);
    const auto nextMinute = [&window] {
        for (int second = 0; second < 60; ++second)
            window.master().clock().tick();
    };
    ImageExport &exporter = window.master().imageExport();
    std::printf("main window %dx%d, time display \"%s\", canvas %dx%d\n", window.width(), window.height(),
                qPrintable(window.Text1->text()), ImageExport::kCanvasSize.width(),
                ImageExport::kCanvasSize.height());
    timeLoopHold(snap, exporter, ticks);
    timeHalves(snap, [&picture] { return picture.grab(); }, nextMinute, exporter.folder(), ticks);
    // NOTE: the program's own once-a-second tick keeps running beside the
    // benchmark, which keeps the worker busy; those seconds are skipped.
    std::printf("published PNG: %lld bytes, %d seconds skipped\n", QFileInfo(exporter.publishedPath()).size(),
                exporter.skippedSeconds());
    comparePngFlags(snap, exporter, ticks);
    window.Stopclock->click();
    return 0;
}
