#pragma once

#include "platform/Timer.h"

#include <QColor>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

#include <functional>

// Publishes a picture of the main window as "Quorandel.png" once a second.
//
// Each tick goes through three files in the export folder: the capture written
// as "Quorandel.bmp", converted by FreeImage to "Quorandel1.png", which then
// replaces "Quorandel.png" in one step. The two temporary files are gone again
// when a tick ends. The export yields to the event loop twice per tick, so the
// clock, the broadcast and the web server keep running in between.
class ImageExport : public QObject
{
    Q_OBJECT
public:
    // Gives a picture of the whole main window, menu bar included; a null
    // image when there is none.
    using SnapWindow = std::function<QImage()>;

    // The hidden capture canvas measures 20415 x 12975 twips, 15 twips a pixel.
    static constexpr QSize kCanvasSize{20415 / 15, 12975 / 15};
    // The main window's dark olive.
    static constexpr QRgb kCanvasBackground = qRgb(65, 71, 31);

    ImageExport(const QString &folder, SnapWindow snapWindow, QObject *parent = nullptr);

    // Arms Timer2 at 1000 ms; it then ticks until the program ends.
    void start();
    const Timer &Timer2() const { return m_Timer2; }

    // Timer2's handler. A failure before the last stage skips the tick
    // quietly; the last stage ignores its failures.
    void ExportTick();

    QString folder() const { return m_folder; }
    QString capturePath() const;
    QString temporaryPath() const;
    QString publishedPath() const;

    // The steps of a tick, in their order, for whoever needs to look at one
    // of them alone.
    bool makeFolder() const;
    bool capture();
    QImage Picture2() const;
    bool writeCaptureFile() const;
    void publishTemporary() const;

private:
    QString m_folder;
    SnapWindow m_snapWindow;
    QImage m_capture;
    Timer m_Timer2;
};
