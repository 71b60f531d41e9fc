// SPDX-License-Identifier: GPL-3.0-or-later
// The property frame (OleCreatePropertyFrame): a modal dialog titled with
// the caption, one tab per property page, and the buttons "OK" and
// "Cancel". OK and Cancel close the frame once what the pages asked of the
// device has gone out, or after kCloseBoundMs at most (with the event loop
// running meanwhile); what is still queued then goes out in order after the
// frame is gone. Two pages exist:
//  - the device controls page of a capture filter: a camera's own controls
//    where it has them (V4L2 controls, CameraControlsPage.h), or else the
//    picture controls of its GStreamer source element (GstColorBalance
//    channels and the writable numeric, boolean and enumerated properties),
//    applied live while the dialog is open and put back on Cancel;
//  - the format page of a capture pin: the formats its stream configuration
//    offers (colour format, size, frame rate); OK sets the chosen one.
// Objects offer the pages through ISpecifyPropertyPages, with the page
// identifiers CLSID_DeviceControlsPage and CLSID_StreamFormatPage
// (GstMediaSystem.h). The device page finds the source element of the
// boundary's capture filters itself; other filters whose controls live on a
// GStreamer element answer ISourceElementProvider.
#pragma once

#include <QDialog>
#include <QScrollArea>
#include <QWidget>
#include <vector>

#include "GstMediaSystem.h"
#include "GstRef.h"
#include "media/MediaBoundary.h"

class QDialogButtonBox;
class QTabWidget;
class QTimer;

namespace media::gst {

// Answered by filters whose device controls live on a GStreamer element.
class ISourceElementProvider : public virtual IUnknown {
  public:
    static constexpr IID IID_ =
        MakeGuid(0xA01434BE, 0x0054, 0x401A, 0x93, 0x92, 0x41, 0x84, 0x9C, 0xAE, 0x9E, 0x3E);
    // The element whose controls the device page shows (a new reference),
    // or null when there is none.
    virtual ElementRef SourceElement() = 0;
};

// One page of the frame.
class PropertyPage : public QWidget {
    Q_OBJECT
  public:
    using QWidget::QWidget;
    // OK: makes the page's choices take effect. A failure keeps the frame open.
    virtual HRESULT Apply() { return S_OK; }
    // Cancel: undoes what the page applied while it was open.
    virtual void Revert() {}
    // Whether what the page asked of the device is still going out; Settled
    // says when it is done.
    virtual bool Busy() const { return false; }

  signals:
    void Settled();
    // The page's controls are in place: a page that reads them from the
    // device off the user-interface thread shows them when they come.
    void Filled();
};

// The scrolled column of a page's controls: as tall as its controls up to
// `tallest`, and down to a few rows where the screen has no more room (the
// frame is kept inside the work area). Over a spin box, slider or list that
// does not have the focus, the mouse wheel scrolls the column instead of
// changing the value; a control takes the wheel once it has the focus (a
// click or Tab gives it).
class PageScroll : public QScrollArea {
    Q_OBJECT
  public:
    PageScroll(QWidget* parent, int tallest);
    // Call once the content (setWidget) holds its controls.
    void Fit();
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    int tallest_;
};

// The page for one identifier, made for the first of objects that supports
// it; null when none does (or the identifier is unknown).
PropertyPage* CreatePropertyPage(const GUID& page, const std::vector<IUnknown*>& objects,
                                 QWidget* parent);

class PropertyFrame : public QDialog {
    Q_OBJECT
  public:
    // How long OK or Cancel waits for the pages' writes at most.
    static constexpr int kCloseBoundMs = 500;

    PropertyFrame(QWidget* parent, const QString& caption);
    void AddPage(PropertyPage* page);
    int PageCount() const;
    void accept() override;
    void reject() override;
    // Whether OK or Cancel was chosen and the frame waits for the pages.
    bool Closing() const { return closing_; }

  protected:
    // The focus starts on the page's first control (the format page's
    // list: the arrow keys choose at once, Return confirms), or on it once
    // the page is filled.
    void showEvent(QShowEvent* event) override;

  private:
    bool FocusFirstControl();
    // OK and Cancel follow the page's controls in the Tab order, as they
    // follow them on the screen (a page's controls are made after them).
    void ButtonsLast();
    // A page filled after the frame was shown: the frame grows to show it,
    // kept inside the work area.
    void Refit();
    // Closes with the result once no page is busy, or at the bound.
    void CloseWhenSettled(int result);
    bool PagesBusy() const;
    void Finish();

    QTabWidget* tabs_;
    QDialogButtonBox* buttons_;
    QTimer* bound_;
    std::vector<PropertyPage*> pages_;
    bool closing_ = false;
    int result_ = Rejected;
    // The page had no control to focus yet when the frame showed.
    bool focusPending_ = false;
};

// OleCreatePropertyFrame: shows the frame modally at (x, y) of the parent's
// client area and returns when the user closes it: S_OK. E_INVALIDARG
// without objects, E_FAIL when none of the pages can be shown.
HRESULT ShowPropertyFrame(QWidget* parent, int32_t x, int32_t y, const WString& caption,
                          const std::vector<IUnknown*>& objects, const std::vector<GUID>& pages);

}  // namespace media::gst
