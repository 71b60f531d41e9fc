// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel: the camera program's main form. It owns the preview
// window, the capture session (the camera, the microphone and the one media
// graph, which the panel reaches only through the session's calls), the
// actions, the two popup menus and the recording timer, runs the program's
// start-up (FormCreate) and shut-down (FormDestroy), and shows what the
// session tells in the two windows and in message boxes.
#pragma once

#include <QImage>
#include <QRegion>
#include <QStringList>
#include <QWidget>
#include <memory>

#include "app/MailProgram.h"
#include "capture/CaptureSession.h"
#include "forms/PanelKeeper.h"
#include "forms/PanelServices.h"
#include "forms/WindowPlacement.h"
#include "widgets/ControlsKit.h"
#include "widgets/WindowDrag.h"

class QLabel;
class QPainter;
class QMenu;
class QTimer;
class TAction;
class TActionList;
class TImageButton;
class TViewForm;
class TMediaStrip;
class TStartupRepair;
class TControlFormProbe;

class TControlForm : public QWidget, private TSessionReports {
    Q_OBJECT
  public:
    explicit TControlForm(QWidget* parent = nullptr, TPanelServices services = {});
    ~TControlForm() override;

    // Published components, named as their objectName().
    TImage* imgBack = nullptr;
    TImageButton* btnCapture = nullptr;
    TImageButton* btnSnapShot = nullptr;
    TImageButton* btnEditImg = nullptr;
    TImageButton* btnMail = nullptr;
    TImageButton* btnConfig = nullptr;
    TShape* shpNormal = nullptr;
    TImageButton* btnMinimize = nullptr;
    TImageButton* btnClose = nullptr;
    TPaintBox* BmpView1 = nullptr;
    TPaintBox* BmpView2 = nullptr;
    TPaintBox* BmpView3 = nullptr;
    TPaintBox* BmpView4 = nullptr;
    TImage* imgPrev = nullptr;
    TImage* imgNext = nullptr;
    TImageButton* btnDelete = nullptr;
    TImageButton* btnDeleteAll = nullptr;
    TImageButton* btnExpand = nullptr;
    QLabel* lblBmp1 = nullptr;
    QLabel* lblBmp2 = nullptr;
    QLabel* lblBmp3 = nullptr;
    QLabel* lblBmp4 = nullptr;
    TImage* imgAVI = nullptr;
    TActionList* ActionList = nullptr;
    QMenu* menuConfig = nullptr;
    QMenu* menuMail = nullptr;
    QTimer* Timer = nullptr;

    TAction* actMinimize = nullptr;
    TAction* actClose = nullptr;
    TAction* actSnapShot = nullptr;
    TAction* actPrevBmp = nullptr;
    TAction* actNextBmp = nullptr;
    TAction* actVideoFilter = nullptr;
    TAction* actVideoPin = nullptr;
    TAction* actAudioFilter = nullptr;
    TAction* actCompress = nullptr;
    TAction* actCaptureStart = nullptr;
    TAction* actCaptureStop = nullptr;
    TAction* actCapAndMail = nullptr;
    TAction* actSendMail = nullptr;
    TAction* actUseAudio = nullptr;
    TAction* actBmpDelete = nullptr;
    TAction* actBmpClear = nullptr;
    TAction* actSelectDevice = nullptr;
    TAction* actAudioFormat = nullptr;
    TAction* actExpand = nullptr;
    TAction* actBmpEdit = nullptr;
    TAction* actFolderConfig = nullptr;

    // Event handlers.
    void FormCreate(QObject* sender);
    void FormDestroy(QObject* sender);
    void NonCaptureUpdate(QObject* sender);
    void TimerTimer(QObject* sender);
    void actMinimizeExecute(QObject* sender);
    void actCloseExecute(QObject* sender);
    void actExpandExecute(QObject* sender);
    void actUseAudioExecute(QObject* sender);
    void actUseAudioUpdate(QObject* sender);
    void btnConfigClick(QObject* sender);
    void btnMailClick(QObject* sender);
    void actSnapShotExecute(QObject* sender);
    void BmpViewPaint(QObject* sender, QPainter& canvas);
    void BmpViewMouseDown(QObject* sender, Qt::MouseButton button, TShiftState shift, int x, int y);
    void imgPrevClick(QObject* sender);
    void imgNextClick(QObject* sender);
    void actPrevBmpExecute(QObject* sender);
    void actNextBmpExecute(QObject* sender);
    void actBmpDeleteExecute(QObject* sender);
    void actBmpClearExecute(QObject* sender);
    void actBmpEditExecute(QObject* sender);
    void actSendMailExecute(QObject* sender);
    // Recording: the record button starts a recording or stops the running
    // one (ignored while one starts or stops), as the session's state says.
    // Both return at once; the panel shows what the session tells (see
    // frmControlSession.cpp).
    void btnCaptureClick(QObject* sender);
    void StartRecording();
    void StopRecording();
    void actCaptureStartExecute(QObject* sender);
    void actCaptureStopExecute(QObject* sender);
    // Records like the record button; the stop then mails the new file.
    void actCapAndMailExecute(QObject* sender);
    // The media strip: the one way a new picture or recording enters it
    // (appended, scrolled into view, selected, the panel expanded).
    void AddToStrip(const QString& path);
    // The full path of the first free numbered file in the picture folder
    // (isPicture) or the video folder, for example img000001.jpg.
    QString NextFileName(bool isPicture, const QString& prefix, const QString& extension);
    // The strip's files, oldest first, and the selected one (empty: none).
    QStringList StripFiles() const;
    QString SelectedFile() const;
    // The strip's entries (none before FormCreate and after FormDestroy).
    const TMediaStrip* Strip() const { return FStrip.get(); }
    // The entry's cached thumbnail; null before its first paint.
    const QImage* StripThumbnail(int index) const;

    // Mail: a new message in the user's mail program (MailProgram.h); a
    // failure, the user cancelling included, is said in a message box.
    void SendMail(const QString& subject, const QString& path);
    // Settings actions.
    void actSelectDeviceExecute(QObject* sender);
    void actVideoFilterExecute(QObject* sender);
    void actVideoPinExecute(QObject* sender);
    void actAudioFilterExecute(QObject* sender);
    void actCompressExecute(QObject* sender);
    void actAudioFormatExecute(QObject* sender);
    void actFolderConfigExecute(QObject* sender);

    // The preview window (none before FormCreate has made it).
    TViewForm* ViewForm() const { return FViewForm; }
    // The camera, the microphone and the graph; whether the camera in use
    // went away (and none has been taken up since).
    TCaptureSession* Session() const { return FSession; }
    bool CameraLost() const;
    // True while the start-up repair of cut-off recordings runs.
    bool RepairingRecordings() const;

    const QRegion& FormRegion() const { return FFormRegion; }
    // The answer of the panel's hit test at a point in client coordinates:
    // true where a press drags the panel (bare skin).
    bool IsDragSpot(const QPoint& clientPos) const;

    // Skin: the panel's layout, captions, shape and heights.
    void SetCaptions();
    void ApplyFormRegion();
    void SetExpanded(bool expanded);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    friend class TControlFormProbe;
    void CreateComponents();
    void CreateActions();
    void CreateMenus();
    void LoadSkinPictures();
    // Preview window.
    void CreateViewForm();
    void ShowRecordState(bool recording);
    void CloseViewForm();
    // Settings file.
    void LoadSettings();
    void SaveSettings();
    void CheckFolders();
    // What the session tells, in the windows and message boxes.
    void BindSession();
    void ShowSessionState();
    void OperationEnded(const TOutcome& outcome);
    // The first listing's end: the camera opened and previewed, or, with
    // none, the program ends.
    void DevicesListed(bool camera);
    void RecordingStopped(const TOutcome& outcome);
    void SetVideoNotice();
    // TSessionReports
    void UnexpectedFailure(const std::exception_ptr& failure) override;
    bool NeedsCamera(const TAction* action) const;
    // Waits, with the windows painting, for the session to end (bounded).
    void CloseSession();

    void ChooseAudioFormat();
    // Media strip.
    void RefreshStrip();
    void UpdateStripLabel(int tag);
    const QImage& RecordingIcon();

    TViewForm* FViewForm = nullptr;
    QRegion FFormRegion;
    bool FHasFormRegion = false;
    bool FUseAudio = true;
    QString FVideoFolder;
    QString FSnapFolder;
    int32_t FVideoCompress = -1;
    int32_t FAudioCompress = -1;
    bool FMailAfterCapture = false;
    // What the windows show of the session's activity (its changes are
    // what change the recording look).
    TCaptureSession::TActivity FShownActivity = TCaptureSession::TActivity::Idle;
    QString FEndNotice;  // a recording ended by the camera
    // Frames the recording lost to a slow disk: the count last seen, and
    // until when (the recording's time) the status text says so.
    int32_t FDroppedSeen = 0;
    int64_t FDropNoticeUntilMs = -1;
    // imgAVI's picture with its transparent colour made transparent.
    QImage FRecordingIcon;
    // The collaborators: the strip's entries (from FormCreate to
    // FormDestroy) and the capture session (a child of the form).
    std::unique_ptr<TMediaStrip> FStrip;
    TCaptureSession* FSession = nullptr;
    // The repair of the recordings a crash cut off, at start-up.
    TStartupRepair* FRepair = nullptr;
    TPanelServices FServices;  // the program's folder, launcher, mail, disk
    TWindowDrag FDrag;            // moving by the bare skin
    TWindowPlacement FPlacement;  // where the two windows go
    TPanelKeeper FKeeper;         // the panel kept with the preview window
    bool FDestroyed = false;
};
