// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the real program (main window, clock, broadcast, push, export, web
// server) from the working directory with the clock started at the given
// speed, for the given number of seconds, then prints how many model ticks the
// clock made against the number the elapsed monotonic time asks for, and the
// program's memory (resident set) early in the run and at its end.
//
//   clock_harness SECONDS [SPEED [alone]]   (run with QT_QPA_PLATFORM=offscreen,
//                                            inside a private network namespace)
//
// With "alone", only the clock and the broadcast run, without the window and
// its once-a-second picture export, to tell the two costs apart.

#include "BenchTools.h"
#include "app/FPortula.h"
#include "publish/TimeBroadcast.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace {

qint64 g_ticks = 0;


void report(qint64 ms, qint16 speed)
{
    const qint64 expected = ms / ClockEngine::periodFor(speed);
    std::printf("model ticks: %lld in %lld ms at %d:1, expected %lld, lost %lld\n", g_ticks, ms, speed, expected,
                expected > g_ticks ? expected - g_ticks : 0);
}

int runAlone(QApplication &app, int seconds, qint16 speed)
{
    ClockEngine clock;
    Settings settings;
    settings.RatioX8 = QStringLiteral("125.485");
    TimeBroadcast broadcast(clock, settings);
    QObject::connect(&clock, &ClockEngine::displayChanged, [] { ++g_ticks; });
    broadcast.SetUpBroadcast();
    clock.setSpeed(speed);
    QElapsedTimer elapsed;
    elapsed.start();
    clock.start();
    broadcast.StartBroadcast();
    QTimer::singleShot(seconds * 1000, &app, [&] {
        report(elapsed.elapsed(), speed);
        app.quit();
    });
    return app.exec();
}

}  // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? atoi(argv[1]) : 10;
    const qint16 speed = qint16(argc > 2 ? atoi(argv[2]) : 8);
    if (argc > 3 && QByteArray(argv[3]) == "alone")
        return runAlone(app, seconds, speed);

    FPortula window(AppPaths::standard());
    QString error;
    if (!window.Form_Load(&error)) {
        std::fprintf(stderr, "clock_harness: %s\n", qPrintable(error));
        return 1;
    }
    window.show();
    QObject::connect(&window.master().clock(), &ClockEngine::displayChanged, [] { ++g_ticks; });
    window.master().clock().setSpeed(speed);
    QElapsedTimer elapsed;
    elapsed.start();
    window.StartClock->click();
    long earlyKiB = 0;
    QTimer::singleShot(2000, &app, [&] { earlyKiB = residentKiB(); });
    QTimer::singleShot(seconds * 1000, &app, [&] {
        report(elapsed.elapsed(), speed);
        std::printf("memory: %ld KiB after 2 s, %ld KiB at the end\n", earlyKiB, residentKiB());
        window.Stopclock->click();
        app.quit();
    });
    return app.exec();
}
