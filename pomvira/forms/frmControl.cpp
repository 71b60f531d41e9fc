// SPDX-License-Identifier: GPL-3.0-or-later
#include "frmControl.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QTimer>

#include "widgets/ActionList.h"
#include "app/Application.h"
#include "widgets/ControlsKit.h"
#include "widgets/ImageButton.h"
#include "widgets/FormFonts.h"
#include "files/TextConv.h"
#include "app/WindowSystem.h"
#include "capture/CaptureSession.h"
#include "capture/MediaStrip.h"
#include "forms/PanelAccess.h"
#include "forms/StartupRepair.h"
#include "files/JpegFile.h"
#include "frmView.h"
#include "media/VideoWindow.h"

TControlForm::TControlForm(QWidget* parent, TPanelServices services)
    : QWidget(parent), FServices(std::move(services)), FDrag(this), FPlacement(this), FKeeper(this, [this](const QPoint& p) {
          return !FHasFormRegion || FFormRegion.contains(p);
      }) {
    RegisterFormFonts();
    setObjectName(QStringLiteral("ControlForm"));
    setWindowTitle(QString::fromLatin1(kApplicationTitle));
    setWindowIcon(ApplicationIcon());
    // A tool window: it belongs to the preview window (see
    // TPanelKeeper), which is the program's task bar entry.
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    // The skin paints the client area: no background erase. Its magenta
    // outside the outline is drawn see-through (the outline itself limits
    // input; Wayland compositors ignore it for drawing).
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
    // The buttons' hints show on hover also while the preview window is the
    // active one, as it is right after start.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    setFont(font);
    resize(653, 177);

    CreateActions();
    CreateComponents();
    CreateMenus();
    BindSession();
    new TPanelAccess(this);  // the keyboard's and screen readers' panel
    // The form is loaded: its creation handler runs as part of the creation.
    // A failure ends it at that step; it is reported and the program keeps
    // running with the state reached so far.
    RunHandler([this] { FormCreate(this); });
}

TControlForm::~TControlForm() {
    if (!FDestroyed)
        FormDestroy(this);
}

void TControlForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The program's own show (not a restore by the window system) comes
    // before the window is mapped.
    if (!event->spontaneous())
        KeepOutOfTaskbar(this);
    FKeeper.RaiseAboveViewForm();
}

void TControlForm::closeEvent(QCloseEvent* event) {
    // Closing the main window ends the program through the orderly path.
    event->accept();
    TerminateApplication();
}

void TControlForm::CreateActions() {
    ActionList = new TActionList(this);
    ActionList->setObjectName(QStringLiteral("ActionList"));
    using THandler = void (TControlForm::*)(QObject*);
    const THandler gated = &TControlForm::NonCaptureUpdate;
    // Each action: its field, caption and handlers (none: null).
#define ACTION(name, caption, update) \
    { &TControlForm::name, #name, caption, &TControlForm::name##Execute, update }
    const struct {
        TAction* TControlForm::*field;
        const char* name;
        const char* caption;
        THandler execute, update;
    } actions[] = {
        ACTION(actMinimize, "Minimize", nullptr),
        ACTION(actClose, "Quit", nullptr),
        ACTION(actSnapShot, "Still cut", gated),
        ACTION(actPrevBmp, "Prev", nullptr),
        ACTION(actNextBmp, "Next", nullptr),
        ACTION(actVideoFilter, "비디오 색상", gated),
        ACTION(actVideoPin, "비디오 해상도", gated),
        ACTION(actAudioFilter, "오디오 설정", gated),
        ACTION(actCompress, "압축설정", gated),
        ACTION(actCaptureStart, "Capture Start", nullptr),
        ACTION(actCaptureStop, "Capture Stop", nullptr),
        ACTION(actCapAndMail, "캡쳐후 메일보내기", gated),
        ACTION(actSendMail, "선택된 정지영상 메일 보내기", gated),
        ACTION(actUseAudio, "캡쳐시 음성녹음", &TControlForm::actUseAudioUpdate),
        ACTION(actBmpDelete, "삭제", nullptr),
        ACTION(actBmpClear, "전부삭제", nullptr),
        ACTION(actSelectDevice, "장치선택", gated),
        ACTION(actAudioFormat, "오디오 형식", gated),
        ACTION(actExpand, "확장", nullptr),
        ACTION(actBmpEdit, "편집", nullptr),
        ACTION(actFolderConfig, "저장폴더 설정", nullptr),
    };
#undef ACTION
    for (const auto& a : actions) {
        TAction* action =
            ActionList->Add(QString::fromLatin1(a.name), QString::fromUtf8(a.caption));
        this->*a.field = action;
        if (const THandler execute = a.execute)
            action->OnExecute = [this, execute](QObject* s) { (this->*execute)(s); };
        if (const THandler update = a.update)
            action->OnUpdate = [this, update](QObject* s) { (this->*update)(s); };
    }
}

void TControlForm::CreateMenus() {
    menuConfig = new QMenu(this);
    menuConfig->setObjectName(QStringLiteral("menuConfig"));
    BuildActionMenu(
        menuConfig, ActionList,
        {actUseAudio, actAudioFormat, nullptr, actVideoFilter, actVideoPin, actAudioFilter, nullptr,
         actCompress, actFolderConfig, nullptr, actSelectDevice});
    menuMail = new QMenu(this);
    menuMail->setObjectName(QStringLiteral("menuMail"));
    BuildActionMenu(menuMail, ActionList, {actCapAndMail, actSendMail});

    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(100);
    connect(Timer, &QTimer::timeout, this, [this] { TimerTimer(Timer); });
}

// ---------------------------------------------------------------------------
// Start-up and shut-down
// ---------------------------------------------------------------------------

void TControlForm::FormCreate(QObject*) {
    FHasFormRegion = false;
    FFormRegion = QRegion();
    imgBack->move(0, 0);
    FPlacement.SetKept(false);
    SetCaptions();
    ApplyFormRegion();
    resize(imgBack->width(), shpNormal->height());
    FStrip = std::make_unique<TMediaStrip>(&LoadJpegThumbnail);
    FUseAudio = true;
    FSession->SetStoredChoice(0, 0, QString());
    FVideoCompress = -1;
    FAudioCompress = -1;
    FMailAfterCapture = false;
    LoadSettings();
    CheckFolders();
    // Recordings cut off by a crash are made playable in the background:
    // what it has to tell comes once the windows are shown.
    FRepair = new TStartupRepair(this, FServices.RecordingDisk);
    FRepair->Start(FVideoFolder);
    CreateViewForm();
    ShowRecordState(false);
    FPlacement.FitVideo(320, 240);
    // The devices are listed once the device services (PipeWire, the sound
    // server) have answered, at once when they have already: the windows
    // show meanwhile, the picture when the camera delivers it.
    FSession->FindDevices();
    if (!ApplicationTerminating())
        FViewForm->show();
}

void TControlForm::DevicesListed(bool camera) {
    if (!camera) {
        ShowMessageBox(this,
                       UiText("Messages",
                              "Il n'y a pas une possibilité de rechercher un système "
                              "d'appareil-photo.\r\n\r\nIl finit un programme."),
                       QString::fromLatin1(kApplicationTitle), QMessageBox::Information);
        TerminateApplication();
        return;
    }
    // Opening the camera sizes and places the windows for its frames.
    FSession->OpenDevices();
    // The preview starts in the background: the picture comes when the
    // camera delivers it.
    FSession->SetPreview(true);
}

void TControlForm::FormDestroy(QObject*) {
    FDestroyed = true;
    // A repair under way ends with the file it works on.
    delete FRepair;
    FRepair = nullptr;
    // A recording running at the quit is completed as a stop completes it,
    // or finished by the repair (neither strip nor mail: the program ends);
    // the graph lets go of the devices. The windows keep painting meanwhile.
    CloseSession();
    // The first failure ends the block and is swallowed.
    try {
        Timer->stop();
        FSession->FreeDevices();
        CloseViewForm();
    } catch (...) {
    }
    // Run whether or not the block failed; a failure here (a refused
    // settings write) goes to the error report and shut-down goes on.
    RunHandler([this] {
        FStrip.reset();
        SaveSettings();
    });
    if (FHasFormRegion) {
        clearMask();
        FHasFormRegion = false;
    }
}

// ---------------------------------------------------------------------------
// Actions, timer
// ---------------------------------------------------------------------------

void TControlForm::NonCaptureUpdate(QObject* sender) {
    // Also disabled: what needs the camera while there is none, and while a
    // recording starts or its file is completed, all that works on the graph.
    const bool graph = sender != actCompress && sender != actSendMail;
    if (auto* action = qobject_cast<TAction*>(sender))
        action->SetEnabled(btnCapture->Tag != 1 && !(CameraLost() && NeedsCamera(action)) &&
                           !(FSession->RecordingBusy() && graph));
}

void TControlForm::actUseAudioExecute(QObject*) {
    FUseAudio = !FUseAudio;
}

void TControlForm::actUseAudioUpdate(QObject*) {
    actUseAudio->SetChecked(FUseAudio);
    actUseAudio->SetEnabled(btnCapture->Tag != 1 && !FSession->RecordingBusy());
}

void TControlForm::TimerTimer(QObject*) {
    const int64_t ms = FSession->RecordingPositionMs();
    if (ms < 0)
        return;
    // Time of day of the elapsed milliseconds; the hours wrap after a day.
    const int64_t ofDay = ((ms % 86400000) + 86400000) % 86400000;
    const int hours = int(ofDay / 3600000);
    const int minutes = int(ofDay / 60000 % 60);
    const int seconds = int(ofDay / 1000 % 60);
    const int millis = int(ofDay % 1000);
    // Frames dropped because the disk does not keep up: said while it
    // happens, and two seconds after.
    const int32_t dropped = FSession->DroppedFrames();
    if (dropped > FDroppedSeen) {
        FDroppedSeen = dropped;
        FDropNoticeUntilMs = ms + 2000;
    }
    QString text = UiText("PreviewWindow", "(Record : %1:%2:%3:%4)")
                       .arg(hours)
                       .arg(minutes)
                       .arg(seconds)
                       .arg(millis);
    if (ms < FDropNoticeUntilMs)
        text += QLatin1Char(' ') +
                UiText("PreviewWindow", "Disque trop lent : des images sont perdues");
    if (FViewForm)
        FViewForm->ShowRecordTime(text);
}

void TControlForm::actMinimizeExecute(QObject*) {
    MinimizeApplication();
}

void TControlForm::actCloseExecute(QObject*) {
    TerminateApplication();
}

// ---------------------------------------------------------------------------
// Preview window
// ---------------------------------------------------------------------------

void TControlForm::CreateViewForm() {
    FViewForm = new TViewForm(this);
    FSession->SetVideoWindow(FViewForm->VideoWindow);
    FPlacement.SetViewForm(FViewForm);
    // The panel's own native window first, for the keeper to make it belong
    // to the preview window's.
    create();
    FKeeper.KeepAboveViewForm(FViewForm);
}

void TControlForm::ShowRecordState(bool recording) {
    if (FViewForm)
        FViewForm->SetRecordState(recording);
}

void TControlForm::CloseViewForm() {
    if (!FViewForm)
        return;
    try {
        FViewForm->VideoWindow->setVisible(false);
        FSession->SetVideoWindow(nullptr);
        FViewForm->close();
    } catch (...) {
    }
}

bool TControlForm::RepairingRecordings() const {
    return FRepair && FRepair->Running();
}
