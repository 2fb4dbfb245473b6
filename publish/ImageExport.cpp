// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/ImageExport.h"

#include "look/Olive.h"
#include "publish/CaptureCanvas.h"
#include "publish/ExportFiles.h"
#include "publish/FreeImageBitmap.h"
#include "publish/PaletteImage.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

#include <utility>

namespace {
bool writeCaptureFile(const QImage &grab, const QString &path)
{
    const QImage canvas = composeCanvas(grab, ImageExport::kCanvasSize, QColor::fromRgb(Olive));
    const QImage image = toPalette(canvas);
    return !image.isNull() && image.save(path, "BMP");
}

// NOTE: every failure here is ignored on purpose: the published picture keeps
// its last good content until a later second replaces it.
void publishTemporary(const QString &folder)
{
    const QString temporary = ImageExport::temporaryPath(folder);
    if (isReadyExclusive(temporary))
        replaceAtomically(temporary, ImageExport::publishedPath(folder));
    removeUnlessLocked(temporary);
}
}  // namespace

ImageExport::ImageExport(const QString &folder, SnapWindow snapWindow, QObject *parent)
    : QObject(parent)
    , m_folder(folder)
    , m_snapWindow(std::move(snapWindow))
{
    connect(&m_Timer2, &Timer::ticked, this, &ImageExport::ExportTick);
    connect(&m_worker, &QFutureWatcher<bool>::finished, this, &ImageExport::workerFinished);
}

ImageExport::~ImageExport()
{
    m_worker.waitForFinished();
}

void ImageExport::start()
{
    m_Timer2.setInterval(1000);
}

QString ImageExport::capturePath(const QString &folder)
{
    return QDir(folder).filePath(QStringLiteral("Quorandel.bmp"));
}

QString ImageExport::temporaryPath(const QString &folder)
{
    return QDir(folder).filePath(QStringLiteral("Quorandel1.png"));
}

QString ImageExport::publishedPath(const QString &folder)
{
    return QDir(folder).filePath(QStringLiteral("Quorandel.png"));
}

void ImageExport::ExportTick()
{
    if (m_writing) {
        ++m_skipped;
        return;
    }
    const QImage grab = m_snapWindow ? m_snapWindow() : QImage();
    if (grab.isNull())
        return;
    m_writing = true;
    const int delayMs = m_workerDelayMs;
    // NOTE: the worker lets go of its copy before it reports: the next grab
    // draws into the image the copy shares, and would otherwise copy it whole.
    m_worker.setFuture(QtConcurrent::run([copy = grab, folder = m_folder, delayMs]() mutable {
        const QImage picture = std::exchange(copy, QImage());
        if (delayMs > 0)
            QThread::msleep(delayMs);
        return writePicture(picture, folder);
    }));
}

void ImageExport::workerFinished()
{
    m_writing = false;
    emit pictureWritten(m_worker.result());
}

// The data folder itself may not exist yet on a fresh account, so the whole
// path is made, not just its last level.
bool ImageExport::writePicture(const QImage &grab, const QString &folder)
{
    if (!QDir().mkpath(folder))
        return false;
    const QString capture = capturePath(folder);
    if (!writeCaptureFile(grab, capture)) {
        QFile::remove(capture);
        return false;
    }
    FreeImageBitmap bitmap = FreeImageBitmap::loadBmp(capture);
    QFile::remove(capture);
    const bool saved = bitmap.savePng(temporaryPath(folder));
    bitmap.unload();
    if (!saved) {
        // Whatever a failed save left behind is no picture to publish.
        removeUnlessLocked(temporaryPath(folder));
        return false;
    }
    publishTemporary(folder);
    return true;
}
