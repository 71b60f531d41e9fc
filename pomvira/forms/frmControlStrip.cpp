// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel's still pictures and media strip: taking a picture from
// the frame grabber as a numbered JPEG file, and the strip of the pictures
// and recordings made in this run, shown four at a time with their
// thumbnails (made off the user-interface thread, a plain box meanwhile),
// paged one entry per step, selected, opened, edited and removed (files on
// disk are never touched).
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QPointer>
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
#include "capture/MediaStrip.h"
#include "media/Bitmap.h"
#include "media/SampleGrabber.h"

using namespace media;

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
        throw std::runtime_error(UiText("Messages",
                                        "Aucune image n'est arrivée de la caméra : "
                                        "la photo n'a pas été prise.")
                                     .toStdString());
    const QString path = NextFileName(true, QStringLiteral("img"), QStringLiteral("jpg"));
    SaveJpegFile(*bitmap, path, kSnapShotQuality);
    AddToStrip(path);
}

// ---------------------------------------------------------------------------
// The strip
// ---------------------------------------------------------------------------

void TControlForm::AddToStrip(const QString& path) {
    if (!FStrip)
        return;
    FStrip->Add(path);
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
    TPaintBox* const boxes[] = {BmpView1, BmpView2, BmpView3, BmpView4};
    QLabel* label = tag >= 0 && tag < 4 ? labels[tag] : nullptr;
    if (!label)
        return;
    const int index = FStrip ? FStrip->EntryAt(tag) : -1;
    // What a screen reader says of the box: the file it shows and whether
    // it is the selected one.
    TPaintBox* box = boxes[tag];
    const QString boxName =
        index >= 0 ? QFileInfo(FStrip->FileAt(index)).fileName() : UiText("ControlPanel", "Vide");
    if (box->accessibleName() != boxName)
        box->setAccessibleName(boxName);
    const QString boxPath = index >= 0 ? FStrip->FileAt(index) : QString();
    if (box->accessibleDescription() != boxPath)
        box->setAccessibleDescription(boxPath);
    box->SetSelected(index >= 0 && index == FStrip->Selected());
    if (index >= 0) {
        const QString name = QFileInfo(FStrip->FileAt(index)).fileName();
        if (label->text() != name)
            label->setText(name);
        if (label->isHidden())
            label->show();
    } else if (!label->isHidden()) {
        label->hide();
    }
}

QStringList TControlForm::StripFiles() const {
    return FStrip ? FStrip->Files() : QStringList();
}

QString TControlForm::SelectedFile() const {
    return FStrip ? FStrip->SelectedFile() : QString();
}

const QImage* TControlForm::StripThumbnail(int index) const {
    return FStrip ? FStrip->CachedThumbnail(index) : nullptr;
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
    const int index = FStrip ? FStrip->EntryAt(box->Tag) : -1;
    const QRect client = box->rect();
    if (index >= 0) {
        // A picture's thumbnail is made off this thread; its box is painted
        // again once it is there.
        const QPointer<TPaintBox> repaint(box);
        const auto ready = [repaint] {
            if (repaint)
                repaint->update();
        };
        if (const QImage* thumbnail = FStrip->Thumbnail(index, client.size(), ready)) {
            canvas.drawImage(client, *thumbnail);
        } else {
            // A recording. The rest of the box is not filled: the skin
            // shows through.
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
    const bool selected = index >= 0 && index == FStrip->Selected();
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
    if (!box || !FStrip || !FStrip->SelectAt(box->Tag))
        return;
    RefreshStrip();
    if (shift.Double)
        OpenDocument(FStrip->SelectedFile());
}

void TControlForm::imgPrevClick(QObject*) {
    actPrevBmp->Execute();
}

void TControlForm::imgNextClick(QObject*) {
    actNextBmp->Execute();
}

void TControlForm::actPrevBmpExecute(QObject*) {
    if (FStrip && FStrip->ScrollBack())
        RefreshStrip();
}

void TControlForm::actNextBmpExecute(QObject*) {
    if (FStrip && FStrip->ScrollForward())
        RefreshStrip();
}

void TControlForm::actBmpDeleteExecute(QObject*) {
    if (FStrip && FStrip->DeleteSelected())
        RefreshStrip();
}

void TControlForm::actBmpClearExecute(QObject*) {
    if (FStrip)
        FStrip->Clear();
    RefreshStrip();
}

void TControlForm::actBmpEditExecute(QObject*) {
    const QString path = SelectedFile();
    if (!path.isEmpty())
        EditDocument(path);
}
