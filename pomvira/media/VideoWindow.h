// SPDX-License-Identifier: GPL-3.0-or-later
// TVideoWindow: a visual control that brings a video renderer into the graph
// and makes the renderer's own window appear exactly where the control lies
// (following its size and visibility), with the renderer's mouse and key
// input arriving at the control as its own events.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>

#include "FilterGraph.h"
#include "GraphMember.h"
#include "MediaBoundary.h"
#include "MediaUtil.h"

class QMenu;

namespace media {

class TVideoWindow;

// The mixing renderer's interfaces that the control uses. The renderer does
// not exist on this platform (creating it fails), so these are never
// answered; they keep the control's mixing branch complete.
class IVMRFilterConfig9 : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x5A804648, 0x4F66, 0x4867, 0x9C, 0x43, 0x4F, 0x5C, 0x82, 0x2C, 0xF1, 0xB8);
    virtual HRESULT SetRenderingMode(uint32_t mode) = 0;
    virtual HRESULT SetNumberOfStreams(uint32_t streams) = 0;
    virtual HRESULT GetNumberOfStreams(uint32_t* streams) = 0;
    virtual HRESULT SetRenderingPrefs(uint32_t prefs) = 0;
    virtual HRESULT GetRenderingPrefs(uint32_t* prefs) = 0;
};

class IVMRWindowlessControl9 : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x8F537D09, 0xF85E, 0x4414, 0xB2, 0x3B, 0x50, 0x2E, 0x54, 0xC7, 0x99, 0x27);
    virtual HRESULT SetVideoClippingWindow(QWidget* window) = 0;
    virtual HRESULT SetVideoPosition(const RECT* source, const RECT* destination) = 0;
};

class IVMRAspectRatioControl9 : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0x00D96C29, 0xBBDE, 0x4EFC, 0x99, 0x01, 0xBB, 0x50, 0x36, 0x39, 0x21, 0x46);
    virtual HRESULT SetAspectRatioMode(uint32_t mode) = 0;
};

enum TVideoMode { vmNormal = 0, vmVMR = 1 };
enum TVMRVideoMode { vmrWindowed = 0, vmrWindowless = 1, vmrRenderless = 2 };

// Rendering preferences of the mixing renderer (bit values).
enum TVMRPreference : uint32_t {
    vpForceOffscreen = 1,
    vpForceOverlays = 2,
    vpForceMixer = 4,
    vpDoNotRenderColorKeyAndBorder = 8,
    vpRestrictToInitialMonitor = 16,
    vpPreferAGPMemWhenMixing = 32,
};
using TVMRPreferences = uint32_t;  // a set of TVMRPreference bits

// The mixing renderer's settings, owned by the control.
class TVMROptions {
  public:
    explicit TVMROptions(TVideoWindow* owner) : owner_(owner) {}

    TVMRVideoMode Mode() const { return mode_; }
    void SetMode(TVMRVideoMode value);
    // 1..16; a value outside becomes 1.
    int Streams() const { return streams_; }
    void SetStreams(int value);
    TVMRPreferences Preferences() const { return preferences_; }
    void SetPreferences(TVMRPreferences value);
    bool KeepAspectRatio() const { return keepAspectRatio_; }
    void SetKeepAspectRatio(bool value);

  private:
    friend class TVideoWindow;
    void Reattach();

    TVideoWindow* owner_;
    TVMRVideoMode mode_ = vmrWindowed;
    int streams_ = 4;
    TVMRPreferences preferences_ = vpForceMixer;
    bool keepAspectRatio_ = true;
};

class TVideoWindow : public QWidget,
                     public TGraphMember,
                     public IGraphEventSink,
                     public TInterfaceSource {
    Q_OBJECT

  public:
    explicit TVideoWindow(QWidget* parent = nullptr);
    ~TVideoWindow() override;

    TVideoMode Mode() const { return mode_; }
    // vmVMR only when the mixing renderer can be created, otherwise vmNormal;
    // in an active graph the control then re-joins it with a new renderer.
    void SetMode(TVideoMode value);
    TVMROptions& VMROptions() { return vmrOptions_; }

    bool FullScreen() const { return fullScreen_; }
    void SetFullScreen(bool value);
    bool FullScreenTopMost() const { return fullScreenTopMost_; }
    void SetFullScreenTopMost(bool value);
    bool FullScreenActive() const { return fullScreenActive_; }

    // The control's own visibility, then the renderer window's (a platform
    // failure raises EDirectShowException).
    void setVisible(bool visible) override;

    // The renderer's window (the owner's child titled with the control's
    // name), or the control itself without a renderer window.
    QWidget* VideoHandle() const;

    // The control's colour (black) and the handler called after its
    // background is painted.
    QColor Color() const;
    void SetColor(const QColor& color);
    std::function<void(TVideoWindow* sender)> OnPaint;
    // Popped up at the cursor on a context-menu request while full screen.
    QPointer<QMenu> PopupMenu;

    // The window styles read from the control after loading. Widgets have no
    // style bits here: both are 0, so the renderer window gets exactly the
    // child and sibling-clipping styles.
    int32_t SavedStyle() const { return savedStyle_; }
    int32_t SavedExStyle() const { return savedExStyle_; }

    bool IsRendererConnected();
    static bool IsMixingRendererAvailable();

    // IGraphMember
    IBaseFilter* MemberFilter() override { return renderer_.Get(); }
    QString MemberName() override { return objectName(); }
    void MemberNotify(TMemberStep step, int param) override;
    // IGraphEventSink
    void OnGraphEvent(int32_t code, intptr_t param1, intptr_t param2) override;
    void OnControl(TControlKind kind, int value) override;

    // The windowless control (IVMRWindowlessControl9) when there is one;
    // then forwarded to the renderer filter.
    HRESULT QueryInterface(const IID& iid, void** object) override;

    IVideoWindow* VideoWindowInterface() const { return videoWindow_.Get(); }

  protected:
    // The control follows its graph's events while it is a member.
    void JoinedGraph(TFilterGraph* graph) override;
    void LeftGraph(TFilterGraph* graph) override;
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    friend class TVMROptions;
    void ApplyWindowPlacement(bool full);
    void CaptionAndDrain();
    void FollowGeometry();
    void Reattach();
    void AddingVMR();
    void AddedVMR();
    void ApplyAspectRatio();

    TVideoMode mode_ = vmNormal;
    TVMROptions vmrOptions_;
    bool fullScreen_ = false;
    bool fullScreenTopMost_ = false;
    bool fullScreenActive_ = false;
    int32_t savedStyle_ = 0;
    int32_t savedExStyle_ = 0;
    ComPtr<IBaseFilter> renderer_;
    ComPtr<IVideoWindow> videoWindow_;
    ComPtr<IVMRWindowlessControl9> windowless_;
};

}  // namespace media
