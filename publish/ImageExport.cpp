#include "publish/ImageExport.h"

#include "platform/Yield.h"
#include "publish/CaptureCanvas.h"
#include "publish/ExportFiles.h"
#include "publish/FreeImageBitmap.h"
#include "publish/PaletteImage.h"

#include <QDir>
#include <QFile>

#include <utility>

ImageExport::ImageExport(const QString &folder, SnapWindow snapWindow, QObject *parent)
    : QObject(parent)
    , m_folder(folder)
    , m_snapWindow(std::move(snapWindow))
{
    connect(&m_Timer2, &Timer::ticked, this, &ImageExport::ExportTick);
}

void ImageExport::start()
{
    m_Timer2.setInterval(1000);
}

QString ImageExport::capturePath() const
{
    return QDir(m_folder).filePath(QStringLiteral("Quorandel.bmp"));
}

QString ImageExport::temporaryPath() const
{
    return QDir(m_folder).filePath(QStringLiteral("Quorandel1.png"));
}

QString ImageExport::publishedPath() const
{
    return QDir(m_folder).filePath(QStringLiteral("Quorandel.png"));
}

void ImageExport::ExportTick()
{
    if (!makeFolder() || !capture())
        return;
    yieldToEventLoop();
    if (!writeCaptureFile()) {
        QFile::remove(capturePath());
        return;
    }
    FreeImageBitmap bitmap = FreeImageBitmap::loadBmp(capturePath());
    yieldToEventLoop();
    QFile::remove(capturePath());
    const bool saved = bitmap.savePng(temporaryPath());
    bitmap.unload();
    if (!saved) {
        // Whatever a failed save left behind is no picture to publish.
        removeUnlessLocked(temporaryPath());
        return;
    }
    publishTemporary();
}

// The data folder itself may not exist yet on a fresh account, so the whole
// path is made, not just its last level.
bool ImageExport::makeFolder() const
{
    return QDir().mkpath(m_folder);
}

bool ImageExport::capture()
{
    m_capture = m_snapWindow ? m_snapWindow() : QImage();
    return !m_capture.isNull();
}

QImage ImageExport::Picture2() const
{
    return composeCanvas(m_capture, kCanvasSize, QColor::fromRgb(kCanvasBackground));
}

bool ImageExport::writeCaptureFile() const
{
    const QImage image = toPalette(Picture2());
    return !image.isNull() && image.save(capturePath(), "BMP");
}

// NOTE: every failure here is ignored on purpose: the published picture keeps
// its last good content until a later tick replaces it.
void ImageExport::publishTemporary() const
{
    if (isReadyExclusive(temporaryPath()))
        replaceAtomically(temporaryPath(), publishedPath());
    removeUnlessLocked(temporaryPath());
}
