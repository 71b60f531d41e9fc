// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel: the camera program's main form. It owns the preview
// window, the one media graph with its member components, the actions, the
// two popup menus and the recording timer, and runs the program's start-up
// (FormCreate) and shut-down (FormDestroy).
#pragma once

#include <QImage>
#include <QRegion>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <optional>

#include "capture/CameraWatch.h"
#include "widgets/ControlsKit.h"
#include "widgets/WindowDrag.h"
#include "forms/PanelKeeper.h"
#include "forms/WindowPlacement.h"
#include "media/Filter.h"
#include "media/MediaBoundary.h"

class QLabel;
class QPainter;
class QMenu;
class QProgressDialog;
class QTimer;
class TAction;
class TActionList;
class TImageButton;
class TViewForm;
class TMediaStrip;
class TRecordingSession;
class TRecordingRepairRun;

namespace media {
class TBitmap;
class TFilterGraph;
class TFilter;
class TSampleGrabber;
class TVideoWindow;
class TSysDevEnum;
}  // namespace media

// The still pictures' JPEG quality.
constexpr int kSnapShotQuality = 90;
// How long a still picture waits for the camera's first frame.
constexpr int kFirstFrameWaitMs = 2000;

// The panel opens and releases the camera for the camera watch (a private
// base: only the watch calls it).
class TControlForm : public QWidget, private TCameraHost {
    Q_OBJECT
  public:
    explicit TControlForm(QWidget* parent = nullptr);
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
    media::TFilterGraph* CaptureGraph = nullptr;
    media::TFilter* VideoSourceFilter = nullptr;
    media::TFilter* AudioSourceFilter = nullptr;
    media::TSampleGrabber* SampleGrabber = nullptr;
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

    // Recording: the record button starts a recording when none runs and
    // stops the running one. Neither operation raises: a failure is shown
    // by the application's error report and the panel is back to
    // previewing. StopRecording is also how anything else ends a running
    // recording; the new file joins the strip.
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
    // The entry's cached thumbnail; null before its first paint.
    const QImage* StripThumbnail(int index) const;

    // Mail: opens the user's mail program with a new message that has the
    // subject and the file as its attachment (the subject alone when no file
    // is at the path). The windows keep painting but take no input while the
    // message is handed over, a few seconds at most; a mail program that is
    // still open then goes on by itself. A failure, the user cancelling
    // included, is reported in a message box, also when it comes later.
    void SendMail(const QString& subject, const QString& path);

    // Settings actions.
    void actSelectDeviceExecute(QObject* sender);
    void actVideoFilterExecute(QObject* sender);
    void actVideoPinExecute(QObject* sender);
    void actAudioFilterExecute(QObject* sender);
    void actCompressExecute(QObject* sender);
    void actAudioFormatExecute(QObject* sender);
    void actFolderConfigExecute(QObject* sender);

    // The preview window (none before FormCreate step 7).
    TViewForm* ViewForm() const { return FViewForm; }

    // Devices that come and go: the graph's notice that a source's device
    // went away (EC_DEVICE_LOST), and the system's notice that an input
    // device came or went. True while the camera in use has gone away and
    // none has been taken up since.
    void GraphDeviceLost(intptr_t filter);
    void DevicesChanged();
    bool CameraLost() const;
    // True while the start-up repair of cut-off recordings runs.
    bool RepairingRecordings() const;

    // Read access to the state, for the program's tests.
    struct TState {
        bool UseAudio;
        int32_t VideoDevice, AudioDevice, VideoCompress, AudioCompress;
        QString VideoFolder, SnapFolder, VideoFormat;
        int FileCount;
        int32_t FirstVisible, Selected;
        bool Recording, Expanded;
    };
    TState State() const;
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
    void CreateComponents();
    void CreateActions();
    void CreateMenus();
    void BindSettingsActions();
    void LoadSkinPictures();

    // Preview window.
    void CreateViewForm();
    void ShowRecordState(bool recording);
    void CloseViewForm();

    // Unfinished recordings in the video folder repaired at start-up, in the
    // background; those that could not be are named in one message.
    void RepairRecordings();
    void ShowRepairProgress(int done, int total);
    void RepairFinished(const QStringList& unrepairable, const QStringList& damaged);

    // Settings file.
    void LoadSettings();
    void SaveSettings();
    void CheckFolders();

    // Devices and the capture graph.
    bool ListDevices();
    void FreeDevices();
    int32_t SelectVideoDevice(int32_t index, const QString& formatText);
    int32_t SelectAudioDevice(int32_t index);
    void SetPreview(bool on);
    void GetVideoSize(int32_t& width, int32_t& height);
    void ApplyVideoFormatText(const QString& text);
    void ApplyVideoMediaType(const media::AM_MEDIA_TYPE* record);
    QString GetVideoFormatText();
    // The camera's format in force; none without a camera.
    std::optional<media::TMediaType> SaveVideoMediaType();
    media::ComPtr<media::IPin> VideoCapturePin();

    // Settings actions.
    void ChooseAudioFormat();

    // Graph errors: one during a recording ends it as the record button
    // would; one during the preview is reported once and the preview rebuilt.
    void WatchGraphErrors();
    void GraphErrorAbort(media::HRESULT error);

    // Devices that come and go.
    void WatchDevices();
    void UnwatchDevices();
    bool NeedsCamera(const TAction* action) const;
    void LoseCamera();
    void LoseMicrophone();
    void ShowCameraLost(bool lost);
    // TCameraHost
    void EndRecording() override;
    void ReleaseCamera() override;
    bool OpenCamera(int index, const media::TMediaType* format, bool sameCamera) override;
    void ShowStalled(bool stalled) override;
    void ReportUnusableCamera() override;

    // Media strip.
    std::unique_ptr<media::TBitmap> GrabFrame();
    bool WaitForFirstFrame();
    void RefreshStrip();
    void UpdateStripLabel(int tag);
    const QImage& RecordingIcon();

    TViewForm* FViewForm = nullptr;
    media::TVideoWindow* FVideoWindow = nullptr;
    QRegion FFormRegion;
    bool FHasFormRegion = false;
    std::unique_ptr<media::TSysDevEnum> FDevEnum;
    bool FUseAudio = true;
    QString FVideoFolder;
    QString FSnapFolder;
    QString FVideoFormat;
    int32_t FVideoCompress = -1;
    int32_t FAudioCompress = -1;
    media::AM_MEDIA_TYPE* FProbeMediaType = nullptr;
    std::unique_ptr<QStringList> FVideoDevices;
    std::unique_ptr<QStringList> FAudioDevices;
    int32_t FVideoDevice = 0;
    int32_t FAudioDevice = 0;
    bool FMailAfterCapture = false;
    bool FPreviewErrorReported = false;
    // imgAVI's picture with its transparent colour made transparent.
    QImage FRecordingIcon;

    // The collaborators: the strip's entries (from FormCreate to
    // FormDestroy), the recording with the kept capture format, and the
    // camera that went away.
    std::unique_ptr<TMediaStrip> FStrip;
    std::unique_ptr<TRecordingSession> FRecording;
    std::unique_ptr<TCameraWatch> FCameraWatch;
    // The start-up repair, and its progress bar while one is shown.
    std::unique_ptr<TRecordingRepairRun> FRepairRun;
    QProgressDialog* FRepairProgress = nullptr;

    // Device notices (see WatchDevices).
    QObject* FDeviceNotice = nullptr;

    TWindowDrag FDrag;            // moving by the bare skin
    TWindowPlacement FPlacement;  // where the two windows go
    TPanelKeeper FKeeper;         // the panel kept with the preview window
    bool FDestroyed = false;
};

// Tests choose the program that mail goes through (a name looked up on PATH,
// or a full path; empty: xdg-email) and make the next send decide again
// whether it can be reached.
void SetMailProgramForTesting(const QString& program);
