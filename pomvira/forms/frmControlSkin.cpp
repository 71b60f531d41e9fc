// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel's look: its components at their places, the skin and
// button pictures, the French captions and hints, the window's outline cut
// from the skin, the two heights, dragging by bare skin, and the menus.
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>

#include "widgets/Accessibility.h"
#include "widgets/ActionList.h"
#include "app/Application.h"
#include "widgets/ControlsKit.h"
#include "widgets/ImageButton.h"
#include "widgets/ImageRgn.h"
#include "widgets/PanelResources.h"
#include "files/TextConv.h"
#include "frmControl.h"
#include "capture/CaptureSession.h"

using namespace media;

namespace {

QImage Picture(const QString& name) {
    return PanelPicture(name + QStringLiteral(".png"));
}

}  // namespace

void TControlForm::CreateComponents() {
    auto button = [&](const char* name, int left, int top, int width, int height,
                      const QString& formHint, const char* pictures) {
        auto* b = new TImageButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(left, top, width, height);
        b->setCursor(Qt::PointingHandCursor);
        b->OffsetX = 2;
        b->OffsetY = 2;
        b->SetChecked(false);
        b->SetHint(formHint);
        b->ShowHint = true;
        if (pictures) {
            const QString base = QString::fromLatin1(pictures);
            b->SetImageDown(Picture(base + QStringLiteral("_down")));
            b->SetImageActive(Picture(base + QStringLiteral("_active")));
            b->SetImageUp(Picture(base + QStringLiteral("_up")));
        }
        b->SetAutoSize(true);
        return b;
    };
    auto image = [&](const char* name, int left, int top, int width, int height) {
        auto* i = new TImage(this);
        i->setObjectName(QString::fromLatin1(name));
        i->setGeometry(left, top, width, height);
        return i;
    };

    imgBack = image("imgBack", 0, 0, 355, 166);
    imgBack->SetAutoSize(true);
    imgBack->SetPicture(Picture(QStringLiteral("back")));
    // Its magenta (the bottom-left pixel) is drawn see-through.
    imgBack->SetTransparent(true);
    btnCapture = button("btnCapture", 37, 15, 44, 44, QString::fromUtf8("녹화"), "capture");
    btnCapture->OnClick = [this](QObject* s) { btnCaptureClick(s); };
    btnSnapShot = button("btnSnapShot", 96, 15, 44, 44, QString::fromUtf8("정지영상"), "snapshot");
    btnSnapShot->SetAction(actSnapShot);
    btnEditImg = button("btnEditImg", 155, 15, 44, 44, QString::fromUtf8("사진편집"), "editimg");
    btnEditImg->SetAction(actBmpEdit);
    btnMail = button("btnMail", 214, 15, 44, 44, QString::fromUtf8("메일보내기"), "mail");
    btnMail->OnClick = [this](QObject* s) { btnMailClick(s); };
    btnConfig = button("btnConfig", 273, 15, 44, 44, QString::fromUtf8("환경설정"), "config");
    btnConfig->OnClick = [this](QObject* s) { btnConfigClick(s); };
    shpNormal = new TShape(this);
    shpNormal->setObjectName(QStringLiteral("shpNormal"));
    shpNormal->setGeometry(357, 0, 9, 72);
    btnMinimize = button("btnMinimize", 328, 9, 9, 9, QString::fromUtf8("최소화"), nullptr);
    btnMinimize->SetImageDown(Picture(QStringLiteral("minimize_down")));
    btnMinimize->SetImageUp(Picture(QStringLiteral("minimize_up")));
    btnMinimize->SetAction(actMinimize);
    btnClose = button("btnClose", 339, 9, 9, 9, QString::fromUtf8("종료"), nullptr);
    btnClose->SetImageDown(Picture(QStringLiteral("close_down")));
    btnClose->SetImageUp(Picture(QStringLiteral("close_up")));
    btnClose->SetAction(actClose);

    TPaintBox** views[] = {&BmpView1, &BmpView2, &BmpView3, &BmpView4};
    const int viewLeft[] = {31, 106, 180, 254};
    for (int i = 0; i < 4; ++i) {
        auto* box = new TPaintBox(this);
        box->setObjectName(QStringLiteral("BmpView%1").arg(i + 1));
        box->setGeometry(viewLeft[i], 78, 70, 47);
        box->Tag = i;
        // A screen reader reads the boxes as the items of a list: the file
        // each shows, the selected one as selected.
        box->AccessibleRole = QAccessible::ListItem;
        box->Selectable = true;
        SetAccessibleName(box, UiText("ControlPanel", "Vide"));
        box->OnPaint = [this](QObject* s, QPainter& canvas) { BmpViewPaint(s, canvas); };
        box->OnMouseDown = [this](QObject* s, Qt::MouseButton button, TShiftState shift, int x,
                                  int y) { BmpViewMouseDown(s, button, shift, x, y); };
        *views[i] = box;
    }
    imgPrev = image("imgPrev", 9, 92, 17, 19);
    imgPrev->setCursor(Qt::PointingHandCursor);
    imgPrev->SetHint(QString::fromUtf8("앞으로"));
    imgPrev->OnClick = [this](QObject* s) { imgPrevClick(s); };
    imgNext = image("imgNext", 330, 92, 17, 19);
    imgNext->setCursor(Qt::PointingHandCursor);
    imgNext->SetHint(QString::fromUtf8("뒤로"));
    imgNext->OnClick = [this](QObject* s) { imgNextClick(s); };
    btnDelete = button("btnDelete", 206, 143, 57, 18, QString::fromUtf8("삭제"), "delete");
    btnDelete->SetAction(actBmpDelete);
    btnDeleteAll =
        button("btnDeleteAll", 273, 142, 58, 18, QString::fromUtf8("전체삭제"), "deleteall");
    btnDeleteAll->SetAction(actBmpClear);
    // The expand arrow is drawn in the skin; the button is a bare hot area.
    btnExpand = button("btnExpand", 333, 53, 14, 14, QString::fromUtf8("확장"), nullptr);
    btnExpand->SetAction(actExpand);

    QLabel** labels[] = {&lblBmp1, &lblBmp2, &lblBmp3, &lblBmp4};
    const int labelLeft[] = {31, 106, 181, 254};
    QFont labelFont(QStringLiteral("Microsoft Sans Serif"));
    labelFont.setPixelSize(9);
    for (int i = 0; i < 4; ++i) {
        auto* label = new QLabel(QStringLiteral("abcd.jpg"), this);
        label->setObjectName(QStringLiteral("lblBmp%1").arg(i + 1));
        label->setGeometry(labelLeft[i], 124, 70, 14);
        label->setAlignment(Qt::AlignCenter);
        label->setFont(labelFont);
        label->setStyleSheet(QStringLiteral("color: black; background: transparent;"));
        label->hide();
        *labels[i] = label;
    }
    imgAVI = image("imgAVI", 472, 80, 24, 24);
    imgAVI->SetPicture(Picture(QStringLiteral("avi")));
    imgAVI->hide();

    // The camera, the microphone and the graph: the capture session's.
    FSession = new TCaptureSession(this, this);
}

void TControlForm::SetCaptions() {
    actUseAudio->SetCaption(
        UiText("ControlPanel", "Enregistrement de la voix durant l’acquisition"));
    actAudioFormat->SetCaption(UiText("ControlPanel", "Format Audio"));
    actVideoFilter->SetCaption(UiText("ControlPanel", "Couleur des vidéos"));
    actVideoPin->SetCaption(UiText("ControlPanel", "Résolution des vidéos"));
    actAudioFilter->SetCaption(UiText("ControlPanel", "Réglage audio"));
    actCompress->SetCaption(UiText("ControlPanel", "Réglage de la compression"));
    actFolderConfig->SetCaption(UiText("ControlPanel", "Réglage du dossier de sauvegarde"));
    actSelectDevice->SetCaption(UiText("ControlPanel", "Sélection du périphérique"));
    actCapAndMail->SetCaption(UiText("ControlPanel", "Envoyer Message après enregistrement"));
    actSendMail->SetCaption(UiText("ControlPanel", "Envoyer Message avec photo"));
    btnDelete->SetHint(UiText("ControlPanel", "Effacer"));
    btnDeleteAll->SetHint(UiText("ControlPanel", "Tout Effacer"));
    btnCapture->SetHint(UiText("ControlPanel", "Enregistrement"));
    btnSnapShot->SetHint(UiText("ControlPanel", "Image Fixe"));
    btnEditImg->SetHint(UiText("ControlPanel", "Edition Photo"));
    btnMail->SetHint(UiText("ControlPanel", "Envois de message"));
    btnConfig->SetHint(UiText("ControlPanel", "Configuration"));
    btnMinimize->SetHint(UiText("ControlPanel", "Minimiser"));
    btnClose->SetHint(UiText("ControlPanel", "Fin"));
    btnExpand->SetHint(UiText("ControlPanel", "Extension"));
    imgPrev->SetHint(UiText("ControlPanel", "Retour Rapide"));
    imgNext->SetHint(UiText("ControlPanel", "Avance Rapide"));
}

void TControlForm::ApplyFormRegion() {
    if (FHasFormRegion) {
        clearMask();
        FHasFormRegion = false;
    }
    FFormRegion = BitmapToRegion(imgBack->Picture(), 0xFF00FF);
    FHasFormRegion = true;
    setMask(FFormRegion);
    update();
}

void TControlForm::SetExpanded(bool expanded) {
    if (expanded) {
        btnExpand->Tag = 1;
        btnExpand->SetHint(UiText("ControlPanel", "Minimiser", "folds the strip away"));
        resize(imgBack->width(), imgBack->height());
        FPlacement.KeepExpandedOnScreen();
    } else {
        btnExpand->Tag = 0;
        btnExpand->SetHint(UiText("ControlPanel", "Extension"));
        resize(imgBack->width(), shpNormal->height());
        FPlacement.ReturnFromLift();
    }
    RefreshStrip();  // the captions show with the strip
}

void TControlForm::actExpandExecute(QObject*) {
    SetExpanded(btnExpand->Tag == 0);
}

void TControlForm::btnConfigClick(QObject*) {
    menuConfig->popup(mapToGlobal(QPoint(btnConfig->x(), btnConfig->y() + btnConfig->height())));
}

void TControlForm::btnMailClick(QObject*) {
    menuMail->popup(mapToGlobal(QPoint(btnMail->x(), btnMail->y() + btnMail->height())));
}

bool TControlForm::IsDragSpot(const QPoint& clientPos) const {
    // The topmost visible, enabled child at the point; the panel is dragged
    // only where that is the skin itself.
    const QObjectList& kids = children();
    for (auto it = kids.crbegin(); it != kids.crend(); ++it) {
        auto* w = qobject_cast<QWidget*>(*it);
        if (!w || w->isWindow() || !w->isVisibleTo(this) || !w->isEnabled())
            continue;
        if (w->geometry().contains(clientPos))
            return w == imgBack;
    }
    return false;
}

void TControlForm::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (event->button() != Qt::LeftButton || !IsDragSpot(pos)) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    FDrag.Press(event->globalPosition().toPoint());
}

void TControlForm::mouseMoveEvent(QMouseEvent* event) {
    if (FDrag.Move(event->globalPosition().toPoint(), event->buttons() & Qt::LeftButton)) {
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void TControlForm::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && FDrag.Release()) {
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}
