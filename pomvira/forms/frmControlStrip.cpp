// The control panel's still pictures and media strip: taking a picture from
// the frame grabber as a numbered JPEG file, and the strip of the pictures
// and recordings made in this run, shown four at a time with their
// thumbnails, paged one entry per step, selected, opened, edited and
// removed (files on disk are never touched).
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QThread>
#include <stdexcept>

#include "widgets/ActionList.h"
#include "widgets/ControlsKit.h"
#include "app/DesktopLaunch.h"
#include "files/JpegFile.h"
#include "files/PathUtils.h"
#include "files/TextConv.h"
#include "widgets/ImageRgn.h"
#include "frmControl.h"
#include "media/Bitmap.h"
#include "media/SampleGrabber.h"

using namespace media;

namespace {

// Whether the entry is a recording: its extension, trimmed and in upper
// case, is ".AVI".
bool IsRecording(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot >= 0 && name.mid(dot).trimmed().toUpper() == QLatin1String(".AVI");
}

// What a picture that cannot be loaded shows in its box: a red cross on
// light grey, kept as the entry's thumbnail so the file is tried once.
QImage UnreadablePicture(const QSize& size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(236, 236, 236));
    QPainter p(&image);
    p.setPen(QPen(QColor(200, 30, 30), 2));
    const QRect r = image.rect().adjusted(8, 6, -9, -7);
    p.drawLine(r.topLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomLeft());
    return image;
}

}  // namespace

// ---------------------------------------------------------------------------
// Still pictures
// ---------------------------------------------------------------------------

QString TControlForm::NextFileName(bool isPicture, const QString& prefix,
                                   const QString& extension) {
    return NumberedFileName(isPicture ? FSnapFolder : FVideoFolder, prefix, extension, PathTaken);
}

bool TControlForm::WaitForFirstFrame() {
    // The camera may not have delivered its first frame yet (just after
    // start-up or a device change). The windows keep painting meanwhile;
    // user input waits. Without a grabber in the graph none can come.
    if (!SampleGrabber->Grabber())
        return false;
    QDeadlineTimer deadline(kFirstFrameWaitMs);
    while (!SampleGrabber->HasFrame()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(10);
    }
    return true;
}

std::unique_ptr<TBitmap> TControlForm::GrabFrame() {
    auto bitmap = std::make_unique<TBitmap>();
    if (!SampleGrabber->CopyFrameToBitmap(bitmap.get()) && WaitForFirstFrame())
        SampleGrabber->CopyFrameToBitmap(bitmap.get());
    return bitmap;
}

void TControlForm::actSnapShotExecute(QObject*) {
    // The bitmap and the encoded image are freed on every path; a failure
    // leaves the strip and the folder as they were.
    const std::unique_ptr<TBitmap> bitmap = GrabFrame();
    if (bitmap->Empty())
        throw std::runtime_error(ShownText(u"Aucune image n'est arriv\u00e9e de la cam\u00e9ra : "
                                           u"la photo n'a pas \u00e9t\u00e9 prise.")
                                     .toStdString());
    const QString path = NextFileName(true, QStringLiteral("img"), QStringLiteral("jpg"));
    SaveJpegFile(*bitmap, path, kSnapShotQuality);
    AddToStrip(path);
}

// ---------------------------------------------------------------------------
// The strip
// ---------------------------------------------------------------------------

void TControlForm::AddToStrip(const QString& path) {
    if (!FFiles)
        return;
    FFiles->push_back(TStripEntry{path, std::nullopt});
    const int count = int(FFiles->size());
    FFirstVisible = count > 4 ? count - 4 : 0;
    FSelected = count - 1;
    RefreshStrip();
    SetExpanded(true);
}

void TControlForm::RefreshStrip() {
    // The boxes are only invalidated: several changes in a row cost one
    // repaint. The labels follow at once, so that no label appears or
    // changes while the boxes are being painted.
    for (TPaintBox* box : {BmpView1, BmpView2, BmpView3, BmpView4}) {
        UpdateStripLabel(box->Tag);
        box->update();
    }
}

void TControlForm::UpdateStripLabel(int tag) {
    QLabel* const labels[] = {lblBmp1, lblBmp2, lblBmp3, lblBmp4};
    QLabel* label = tag >= 0 && tag < 4 ? labels[tag] : nullptr;
    if (!label)
        return;
    const int index = FFirstVisible + tag;
    if (FFiles && index >= 0 && index < int(FFiles->size())) {
        const QString name = QFileInfo((*FFiles)[size_t(index)].FileName).fileName();
        if (label->text() != name)
            label->setText(name);
        if (label->isHidden())
            label->show();
    } else if (!label->isHidden()) {
        label->hide();
    }
}

void TControlForm::ClearFiles() {
    if (!FFiles)
        return;
    // The cached thumbnails go with their entries.
    FFiles->clear();
}

QStringList TControlForm::StripFiles() const {
    QStringList files;
    if (FFiles)
        for (const TStripEntry& entry : *FFiles)
            files.append(entry.FileName);
    return files;
}

QString TControlForm::SelectedFile() const {
    if (!FFiles || FSelected < 0 || FSelected >= int(FFiles->size()))
        return QString();
    return (*FFiles)[size_t(FSelected)].FileName;
}

const QImage* TControlForm::StripThumbnail(int index) const {
    if (!FFiles || index < 0 || index >= int(FFiles->size()))
        return nullptr;
    const auto& thumbnail = (*FFiles)[size_t(index)].Thumbnail;
    return thumbnail ? &*thumbnail : nullptr;
}

const QImage& TControlForm::RecordingIcon() {
    const QImage& picture = imgAVI->Picture();
    // Drawn transparently: the colour of the lower-left pixel is the
    // transparent colour.
    if (FRecordingIcon.isNull() && !picture.isNull())
        FRecordingIcon = KeyColorTransparent(picture, picture.pixel(0, picture.height() - 1));
    return FRecordingIcon;
}

void TControlForm::BmpViewPaint(QObject* sender, QPainter& canvas) {
    auto* box = qobject_cast<TPaintBox*>(sender);
    if (!box)
        return;
    const int index = FFirstVisible + box->Tag;
    const QRect client = box->rect();
    if (FFiles && index >= 0 && index < int(FFiles->size())) {
        TStripEntry& entry = (*FFiles)[size_t(index)];
        if (!IsRecording(entry.FileName)) {
            if (!entry.Thumbnail) {
                QImage thumbnail = LoadJpegThumbnail(entry.FileName, client.size());
                entry.Thumbnail =
                    thumbnail.isNull() ? UnreadablePicture(client.size()) : std::move(thumbnail);
            }
            canvas.drawImage(client, *entry.Thumbnail);
        } else {
            // The rest of the box is not filled: the skin shows through.
            const QImage& icon = RecordingIcon();
            canvas.drawImage(
                QPoint((client.width() - icon.width()) / 2, (client.height() - icon.height()) / 2),
                icon);
        }
    } else {
        canvas.fillRect(client, Qt::white);
    }
    // The frame lies inside the box: three blue pixels around the selected
    // entry, one grey pixel around the others.
    const bool selected = index == FSelected;
    const int width = selected ? 3 : 1;
    canvas.setRenderHint(QPainter::Antialiasing, false);
    canvas.setBrush(Qt::NoBrush);
    canvas.setPen(QPen(selected ? QColor(0, 0, 255) : QColor(128, 128, 128), width, Qt::SolidLine,
                       Qt::SquareCap, Qt::MiterJoin));
    const qreal inset = width / 2.0;
    canvas.drawRect(QRectF(client).adjusted(inset, inset, -inset, -inset));
}

void TControlForm::BmpViewMouseDown(QObject* sender, Qt::MouseButton, TShiftState shift, int, int) {
    auto* box = qobject_cast<TPaintBox*>(sender);
    if (!box || !FFiles)
        return;
    const int index = FFirstVisible + box->Tag;
    if (index < 0 || index >= int(FFiles->size()))
        return;
    FSelected = index;
    RefreshStrip();
    if (shift.Double)
        OpenDocument((*FFiles)[size_t(index)].FileName);
}

void TControlForm::imgPrevClick(QObject*) {
    actPrevBmp->Execute();
}

void TControlForm::imgNextClick(QObject*) {
    actNextBmp->Execute();
}

void TControlForm::actPrevBmpExecute(QObject*) {
    if (!FFiles || FFiles->empty())
        return;
    FFirstVisible = std::max(FFirstVisible - 1, 0);
    RefreshStrip();
}

void TControlForm::actNextBmpExecute(QObject*) {
    if (!FFiles || FFiles->size() < 5)
        return;
    FFirstVisible = std::min(FFirstVisible + 1, int32_t(FFiles->size()) - 4);
    RefreshStrip();
}

void TControlForm::actBmpDeleteExecute(QObject*) {
    if (!FFiles)
        return;
    const int32_t s = FSelected;
    const int32_t n = int32_t(FFiles->size());
    if (s < 0 || s >= n)
        return;
    const bool wasLast = s == n - 1;
    // The entry and its thumbnail go; the file on disk stays.
    FFiles->erase(FFiles->begin() + s);
    FSelected = std::min(s, n - 2);
    if (wasLast)
        FFirstVisible = std::max(FFirstVisible - 1, 0);
    RefreshStrip();
}

void TControlForm::actBmpClearExecute(QObject*) {
    ClearFiles();
    RefreshStrip();
    FFirstVisible = 0;
    FSelected = -1;
}

void TControlForm::actBmpEditExecute(QObject*) {
    const QString path = SelectedFile();
    if (!path.isEmpty())
        EditDocument(path);
}
