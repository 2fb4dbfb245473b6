// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Timer.h"

#include <QColor>
#include <QFutureWatcher>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

#include <functional>

// Publishes a picture of the main window as "Quorandel.png" once a second.
//
// The window is grabbed on the event loop, which is the only place it can be.
// Everything after that (the canvas, the palette, "Quorandel.bmp", FreeImage's
// "Quorandel1.png" and its replacing "Quorandel.png" in one step) runs on the
// program's one worker thread, from a copy of the grab, so the clock, the
// broadcast and the web server never wait for an encoder. When the previous
// picture is still being written as the next second comes, that second is
// skipped and counted, never queued: a late picture is worth less than the
// next one.
class ImageExport : public QObject
{
    Q_OBJECT
public:
    // Gives a picture of the whole main window, menu bar included; a null
    // image when there is none.
    using SnapWindow = std::function<QImage()>;

    // The hidden capture canvas measures 20415 x 12975 twips, 15 twips a pixel.
    static constexpr QSize kCanvasSize{20415 / 15, 12975 / 15};

    ImageExport(const QString &folder, SnapWindow snapWindow, QObject *parent = nullptr);
    // Waits for a picture still being written, so no file is left half done.
    ~ImageExport() override;

    // Arms Timer2 at 1000 ms; it then ticks until the program ends.
    void start();
    const Timer &Timer2() const { return m_Timer2; }

    // Timer2's handler: grabs the window and hands the copy to the worker, or
    // counts the second as skipped while the worker is still busy.
    void ExportTick();
    bool isWriting() const { return m_writing; }
    int skippedSeconds() const { return m_skipped; }
    // Holds the worker this long before it writes, so that tests and
    // benchmarks can make a slow disk.
    void setWorkerDelay(int ms) { m_workerDelayMs = ms; }

    QString folder() const { return m_folder; }
    QString capturePath() const { return capturePath(m_folder); }
    QString temporaryPath() const { return temporaryPath(m_folder); }
    QString publishedPath() const { return publishedPath(m_folder); }
    static QString capturePath(const QString &folder);
    static QString temporaryPath(const QString &folder);
    static QString publishedPath(const QString &folder);

    // The worker's whole job, callable on its own: a grab in, the published
    // picture out. False when it stopped before the last stage; the last stage
    // ignores its failures.
    static bool writePicture(const QImage &grab, const QString &folder);

signals:
    // The worker is done with one second's picture; `published` is false when
    // it stopped before replacing the picture.
    void pictureWritten(bool published);

private:
    void workerFinished();

    QString m_folder;
    SnapWindow m_snapWindow;
    Timer m_Timer2;
    QFutureWatcher<bool> m_worker;
    bool m_writing = false;
    int m_skipped = 0;
    int m_workerDelayMs = 0;
};
