// SPDX-License-Identifier: GPL-3.0-or-later
// Mail with the real media framework: while the mail program's window is
// open, the preview keeps showing the built-in test camera's moving picture.
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "widgets/ActionList.h"
#include "app/Application.h"
#include "ControlFormTesting.h"
#include "MailerStandIn.h"
#include "forms/frmControl.h"
#include "forms/frmView.h"
#include "media/VideoWindow.h"
#include "media/gst/VideoRendererWindow.h"

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstTestDevices("1"));

// Counts the new frames a renderer's window is told about (each is drawn
// as its notice is handled).
class TPaintWatch : public QObject {
  public:
    explicit TPaintWatch(QWidget* widget) : FWidget(widget) { widget->installEventFilter(this); }
    int Paints = 0;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == FWidget && event->type() == media::gst::FrameMailbox::NoticeType())
            ++Paints;
        return false;
    }

  private:
    QWidget* FWidget;
};

}  // namespace

using MailWithCamera = ControlFormTestBase;

TEST_F(MailWithCamera, PreviewKeepsPaintingWhileTheMailProgramIsOpen) {
    TControlForm form;
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    form.show();
    RunHandler([&] { form.actSnapShot->Execute(); });
    ASSERT_TRUE(SettleSession(form));
    ASSERT_TRUE(boxes.empty()) << FirstBox();

    QWidget* renderer = form.ViewForm()->VideoWindow->VideoHandle();
    ASSERT_TRUE(QTest::qWaitFor([&] { return renderer->isVisible(); }, 5000));
    TPaintWatch watch(renderer);
    QImage first, last;
    // Pictures of the preview taken while the mail program is open.
    QTimer look;
    look.setInterval(300);
    QObject::connect(&look, &QTimer::timeout,
                     [&] { (first.isNull() ? first : last) = renderer->grab().toImage(); });
    TMailerStandIn mailer(0, 1500);
    look.start();
    const int paintsBefore = watch.Paints;
    form.actSendMail->Execute();
    const int paintsDuring = watch.Paints - paintsBefore;
    look.stop();

    ASSERT_EQ(mailer.Mails().size(), 1u);
    ASSERT_TRUE(boxes.empty()) << FirstBox();
    // The camera's 30 frames a second, less what a loaded machine drops;
    // the pictures taken along the way count once each.
    EXPECT_GE(paintsDuring, 4 + 10);
    ASSERT_FALSE(first.isNull() || last.isNull());
    // The test pattern scrolls sideways: the picture moved meanwhile.
    EXPECT_NE(first, last);
}
