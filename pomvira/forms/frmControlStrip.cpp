// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel's still pictures and media strip: taking a picture from
// the frame grabber as a numbered JPEG file, and the strip of the pictures
// and recordings made in this run, shown four at a time with their
// thumbnails (made off the user-interface thread, a plain box meanwhile),
// paged one entry per step, selected, opened, edited and removed (files on
// disk are never touched).
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QPointer>

#include "widgets/Accessibility.h"
#include "widgets/ActionList.h"
#include "widgets/ControlsKit.h"
#include "app/DesktopLaunch.h"
#include "files/JpegFile.h"
#include "files/PathUtils.h"
#include "files/TextConv.h"
#include "widgets/ImageButton.h"
#include "widgets/ImageRgn.h"
#include "frmControl.h"
#include "capture/CaptureSession.h"
#include "capture/MediaStrip.h"

using namespace media;

// ---------------------------------------------------------------------------
// Still pictures
// ---------------------------------------------------------------------------

QString TControlForm::NextFileName(bool isPicture, const QString& prefix,
                                   const QString& extension) {
    return NumberedFileName(isPicture ? FSnapFolder : FVideoFolder, prefix, extension, PathTaken);
}

void TControlForm::actSnapShotExecute(QObject*) {
    // Written off this thread; it joins the strip once written (StillTaken).
    FSession->TakeStill(FSnapFolder);
}

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
    SetAccessibleName(box, boxName);
    // A recording the camera ended says so.
    const QString note = index >= 0 ? FStrip->NoteAt(index) : QString();
    QString boxPath = index >= 0 ? FStrip->FileAt(index) : QString();
    if (!note.isEmpty())
        boxPath += QStringLiteral("\n") + note;
    SetAccessibleDescription(box, boxPath);
    if (box->toolTip() != note)
        box->setToolTip(note);
    box->SetSelected(index >= 0 && index == FStrip->Selected());
    box->setFocusPolicy(index >= 0 ? Qt::TabFocus : Qt::NoFocus);
    if (index >= 0) {
        const QString name = QFileInfo(FStrip->FileAt(index)).fileName();
        if (label->text() != name)
            label->setText(name);
        if (label->isHidden() && btnExpand->Tag == 1)
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
        FServices.Launch(TLaunchVerb::Open, FStrip->SelectedFile());
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
        FServices.Launch(TLaunchVerb::Edit, path);
}
