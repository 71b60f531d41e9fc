// SPDX-License-Identifier: GPL-3.0-or-later
#include "VideoWindow.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <cfenv>

#include "FilterGraph.h"

namespace media {

namespace {

// Styles cleared for the full-screen placement: WS_CAPTION and
// WS_THICKFRAME; WS_EX_DLGMODALFRAME, WS_EX_WINDOWEDGE, WS_EX_CLIENTEDGE and
// WS_EX_STATICEDGE.
constexpr uint32_t kFullScreenStyleMask = 0xFF3BFFFF;
constexpr uint32_t kFullScreenExStyleMask = 0xFFFDFCFE;

// Rendering modes of the mixing renderer.
constexpr uint32_t VMR9Mode_Windowed = 1;
constexpr uint32_t VMR9Mode_Windowless = 2;
constexpr uint32_t VMR9Mode_Renderless = 4;

}  // namespace

// ---------------------------------------------------------------------------
// TVMROptions
// ---------------------------------------------------------------------------
void TVMROptions::SetMode(TVMRVideoMode value) {
    mode_ = value;
    Reattach();
}

void TVMROptions::SetStreams(int value) {
    streams_ = (value < 1 || value > 16) ? 1 : value;
    Reattach();
}

void TVMROptions::SetPreferences(TVMRPreferences value) {
    preferences_ = value;
    Reattach();
}

void TVMROptions::SetKeepAspectRatio(bool value) {
    keepAspectRatio_ = value;
    if (mode_ == vmrWindowed || mode_ == vmrWindowless)
        owner_->ApplyAspectRatio();
}

void TVMROptions::Reattach() {
    if (owner_->Mode() == vmVMR)
        owner_->Reattach();
}

// ---------------------------------------------------------------------------
// TVideoWindow
// ---------------------------------------------------------------------------
TVideoWindow::TVideoWindow(QWidget* parent) : QWidget(parent), vmrOptions_(this) {
    resize(160, 120);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    SetColor(Qt::black);
}

TVideoWindow::~TVideoWindow() {
    try {
        SetFilterGraph(nullptr);
    } catch (const std::exception& e) {
        ReportException(e);
    }
}

void TVideoWindow::JoinedGraph(TFilterGraph* graph) {
    graph->AttachEventSink(this);
}

// Also when taking the renderer out failed: the graph never notifies a
// control that left it.
void TVideoWindow::LeftGraph(TFilterGraph* graph) {
    graph->DetachEventSink(this);
}

void TVideoWindow::SetMode(TVideoMode value) {
    mode_ = (value == vmVMR && IsMixingRendererAvailable()) ? vmVMR : vmNormal;
    Reattach();
}

void TVideoWindow::Reattach() {
    if (FilterGraph() && FilterGraph()->Active())
        RejoinGraph();
}

void TVideoWindow::SetFullScreen(bool value) {
    ApplyWindowPlacement(value);
    fullScreen_ = value;
}

void TVideoWindow::SetFullScreenTopMost(bool value) {
    fullScreenTopMost_ = value;
    if (fullScreen_)
        ApplyWindowPlacement(true);
}

void TVideoWindow::setVisible(bool visible) {
    QWidget::setVisible(visible);
    if (videoWindow_)
        CheckGraphResult(videoWindow_->put_Visible(visible ? -1 : 0));
}

QColor TVideoWindow::Color() const {
    return palette().color(QPalette::Window);
}

void TVideoWindow::SetColor(const QColor& color) {
    QPalette p = palette();
    p.setColor(QPalette::Window, color);
    setPalette(p);
    update();
}

QWidget* TVideoWindow::VideoHandle() const {
    QWidget* self = const_cast<TVideoWindow*>(this);
    if (!videoWindow_ || !parentWidget())
        return self;
    const auto children = parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        if (child != this && child->windowTitle() == objectName() &&
            QString::fromLatin1(child->metaObject()->className()).contains("VideoRenderer")) {
            return child;
        }
    }
    return self;
}

bool TVideoWindow::IsRendererConnected() {
    if (!renderer_)
        return false;
    TPinList pins(renderer_.Get());
    for (int i = 0; i < pins.Count(); ++i) {
        if (pins.IsPinConnected(i))
            return true;
    }
    return false;
}

bool TVideoWindow::IsMixingRendererAvailable() {
    // Some renderers change the floating-point control word when created.
    std::fenv_t env;
    std::fegetenv(&env);
    ComPtr<IBaseFilter> filter;
    const HRESULT hr =
        CoCreateInstance(CLSID_VideoMixingRenderer9, IBaseFilter::IID_, filter.PutVoid());
    std::fesetenv(&env);
    return SUCCEEDED(hr) && filter;
}

void TVideoWindow::MemberNotify(TMemberStep step, int /*param*/) {
    switch (step) {
        case msAdding:
            renderer_ = nullptr;
            if (mode_ == vmVMR) {
                AddingVMR();
            } else {
                CoCreateInstance(CLSID_VideoRenderer, IBaseFilter::IID_, renderer_.PutVoid());
            }
            break;
        case msAdded:
            if (mode_ == vmVMR) {
                AddedVMR();
            } else if (renderer_) {
                ComPtr<IVideoWindow> window;
                CheckGraphResult(renderer_->QueryInterface(IVideoWindow::IID_, window.PutVoid()));
                videoWindow_ = window;
            }
            break;
        case msRemoving:
            if (renderer_) {
                CheckGraphResult(renderer_->Stop());
                TPinList pins(renderer_.Get());
                for (int i = 0; i < pins.Count(); ++i)
                    CheckGraphResult(pins.PinAt(i)->Disconnect());
            }
            break;
        case msRemoved:
            videoWindow_ = nullptr;
            windowless_ = nullptr;
            renderer_ = nullptr;
            break;
        case msAbandoned:
            // The renderer's window stays with the renderer, which the
            // stuck graph may keep for good: it is hidden, not destroyed.
            if (videoWindow_)
                videoWindow_->put_Visible(0);
            videoWindow_ = nullptr;
            windowless_ = nullptr;
            renderer_ = nullptr;
            break;
        case msRefresh:
            break;
    }
}

void TVideoWindow::AddingVMR() {
    std::fenv_t env;
    std::fegetenv(&env);
    CoCreateInstance(CLSID_VideoMixingRenderer9, IBaseFilter::IID_, renderer_.PutVoid());
    std::fesetenv(&env);
    ComPtr<IVMRFilterConfig9> config = QueryAs<IVMRFilterConfig9>(renderer_.Get());
    if (!config)
        return;
    switch (vmrOptions_.Mode()) {
        case vmrWindowed:
            config->SetRenderingMode(VMR9Mode_Windowed);
            break;
        case vmrWindowless:
            config->SetRenderingMode(VMR9Mode_Windowless);
            break;
        case vmrRenderless:
            config->SetRenderingMode(VMR9Mode_Renderless);
            // A renderless renderer draws through an allocator of the
            // program's own, and this program has none.
            throw EVideoRendererException(QStringLiteral("Allocator class not set."), E_FAIL);
    }
}

void TVideoWindow::AddedVMR() {
    ComPtr<IVMRFilterConfig9> config = QueryAs<IVMRFilterConfig9>(renderer_.Get());
    if (!config)
        return;
    if (vmrOptions_.streams_ != 4 || (vmrOptions_.preferences_ & vpForceMixer)) {
        config->SetNumberOfStreams(uint32_t(vmrOptions_.streams_));
        uint32_t streams = 0;
        if (SUCCEEDED(config->GetNumberOfStreams(&streams)))
            vmrOptions_.streams_ = int(streams);
    }
    if (vmrOptions_.Mode() == vmrWindowed) {
        ComPtr<IVideoWindow> window;
        CheckGraphResult(renderer_->QueryInterface(IVideoWindow::IID_, window.PutVoid()));
        videoWindow_ = window;
    } else if (vmrOptions_.Mode() == vmrWindowless) {
        ComPtr<IVMRWindowlessControl9> windowless;
        CheckGraphResult(
            renderer_->QueryInterface(IVMRWindowlessControl9::IID_, windowless.PutVoid()));
        windowless_ = windowless;
        windowless_->SetVideoClippingWindow(this);
    }
    config->SetRenderingPrefs(vmrOptions_.preferences_ & ~uint32_t(vpForceMixer));
    uint32_t prefs = 0;
    if (SUCCEEDED(config->GetRenderingPrefs(&prefs))) {
        vmrOptions_.preferences_ = prefs | (vmrOptions_.preferences_ & vpForceMixer);
    }
    ApplyAspectRatio();
}

void TVideoWindow::ApplyAspectRatio() {
    const TVMRVideoMode mode = vmrOptions_.Mode();
    if (mode != vmrWindowed && mode != vmrWindowless)
        return;
    ComPtr<IVMRAspectRatioControl9> aspect = Query<IVMRAspectRatioControl9>();
    if (!aspect)
        return;
    CheckGraphResult(aspect->SetAspectRatioMode(vmrOptions_.KeepAspectRatio() ? 1 : 0));
}

void TVideoWindow::ApplyWindowPlacement(bool full) {
    if (videoWindow_ && IsRendererConnected()) {
        if (!full) {
            CheckGraphResult(videoWindow_->put_Owner(parentWidget()));
            CheckGraphResult(
                videoWindow_->put_WindowStyle(savedStyle_ | WS_CHILD | WS_CLIPSIBLINGS));
            CheckGraphResult(videoWindow_->put_WindowStyleEx(savedExStyle_));
            CheckGraphResult(videoWindow_->SetWindowPosition(x(), y(), width(), height()));
            fullScreenActive_ = false;
        } else {
            CheckGraphResult(videoWindow_->put_Owner(nullptr));
            CheckGraphResult(videoWindow_->put_WindowStyle(
                int32_t(uint32_t(savedStyle_) & kFullScreenStyleMask)));
            int32_t exStyle = int32_t(uint32_t(savedExStyle_) & kFullScreenExStyleMask);
            if (fullScreenTopMost_)
                exStyle |= WS_EX_TOPMOST;
            CheckGraphResult(videoWindow_->put_WindowStyleEx(exStyle));
            QRect screen(0, 0, 640, 480);
            if (QScreen* primary = QGuiApplication::primaryScreen())
                screen = primary->geometry();
            CheckGraphResult(
                videoWindow_->SetWindowPosition(0, 0, screen.width(), screen.height()));
            fullScreenActive_ = true;
        }
    }
    if (windowless_)
        fullScreenActive_ = false;
}

void TVideoWindow::CaptionAndDrain() {
    const QString name = objectName();
    if (!name.isEmpty())
        CheckGraphResult(videoWindow_->put_Caption(name.toStdU16String()));
    CheckGraphResult(videoWindow_->put_MessageDrain(this));
}

void TVideoWindow::OnControl(TControlKind kind, int /*value*/) {
    if (kind != ckRun || !IsRendererConnected())
        return;
    if (mode_ == vmNormal) {
        if (!videoWindow_)
            return;
        ApplyWindowPlacement(fullScreen_);
        CaptionAndDrain();
    } else {
        ApplyWindowPlacement(fullScreen_);
    }
}

void TVideoWindow::OnGraphEvent(int32_t code, intptr_t, intptr_t) {
    if (code == EC_PALETTE_CHANGED) {
        if (!videoWindow_)
            return;
        ApplyWindowPlacement(fullScreen_);
        CaptionAndDrain();
    } else if (code == EC_VMR_RENDERDEVICE_SET) {
        if (vmrOptions_.Mode() == vmrWindowed && videoWindow_)
            CaptionAndDrain();
    }
}

HRESULT TVideoWindow::QueryInterface(const IID& iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid == IVMRWindowlessControl9::IID_ && windowless_) {
        windowless_->AddRef();
        *object = static_cast<IVMRWindowlessControl9*>(windowless_.Get());
        return S_OK;
    }
    if (renderer_)
        return renderer_->QueryInterface(iid, object);
    return E_NOINTERFACE;
}

void TVideoWindow::FollowGeometry() {
    if (mode_ == vmNormal || vmrOptions_.Mode() == vmrWindowed) {
        // The renderer window lies over the control; the result is ignored.
        if (videoWindow_ && !fullScreen_) {
            videoWindow_->SetWindowPosition(x(), y(), width(), height());
        }
    } else if (vmrOptions_.Mode() == vmrWindowless && windowless_) {
        const RECT destination{0, 0, width(), height()};
        windowless_->SetVideoPosition(nullptr, &destination);
    }
}

void TVideoWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FollowGeometry();
}

void TVideoWindow::moveEvent(QMoveEvent* event) {
    // Moving without resizing must carry the renderer window along as well.
    QWidget::moveEvent(event);
    FollowGeometry();
}

void TVideoWindow::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        painter.fillRect(event->rect(), Color());
    }
    if (OnPaint)
        OnPaint(this);
}

bool TVideoWindow::event(QEvent* event) {
    // While full screen, mouse events report the cursor's screen position.
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
            if (fullScreenActive_) {
                auto* e = static_cast<QMouseEvent*>(event);
                const QPointF screenPos = QCursor::pos();
                QMouseEvent translated(e->type(), screenPos, screenPos, screenPos, e->button(),
                                       e->buttons(), e->modifiers());
                const bool handled = QWidget::event(&translated);
                event->setAccepted(translated.isAccepted());
                return handled;
            }
            break;
        default:
            break;
    }
    return QWidget::event(event);
}

void TVideoWindow::contextMenuEvent(QContextMenuEvent* event) {
    if (fullScreen_ && PopupMenu) {
        PopupMenu->popup(QCursor::pos());
        event->accept();
        return;
    }
    QWidget::contextMenuEvent(event);
}

}  // namespace media
