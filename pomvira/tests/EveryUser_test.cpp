// SPDX-License-Identifier: GPL-3.0-or-later
// The rules behind keyboard, screen-reader and scaled-screen use, without a
// desktop: where a frame is drawn in its area, the video area and the room
// for it at a scale (and the first format that follows), where a dialog
// goes, devices of equal names, the locale of numbers, the wheel over a
// property page, the focus a dialog starts with, the image buttons' keys,
// and the panel's strip from the keyboard (against the media fake).
#include <QAbstractItemView>
#include <QAccessible>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QSpinBox>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <gtest/gtest.h>
#include <memory>

#include "ControlFormTesting.h"
#include "app/DesktopLaunch.h"
#include "app/Language.h"
#include "dialogs/DialogFit.h"
#include "dialogs/DlgSelectDevice.h"
#include "forms/PanelAccess.h"
#include "forms/WindowPlacement.h"
#include "forms/frmView.h"
#include "media/VideoFormatChoice.h"
#include "media/fake/FakeMedia.h"
#include "media/gst/PropertyFrame.h"
#include "media/gst/VideoSurface.h"
#include "widgets/ControlsKit.h"
#include "TestFrames.h"

using namespace media;

TEST(FramePlacement, AFrameIsScaledEvenlyAndCentredWithinAPixel) {
    const struct {
        QSize frame;
        QSizeF area;
        qreal scale;
        QRectF drawn;
    } cases[] = {
        // 1920 x 1080 in the video area of a preview covering 1600 x 1200.
        {{1920, 1080}, {1564, 1144}, 1, {0, 132, 1564, 880}},
        // A narrow frame: black left and right.
        {{640, 480}, {1280, 720}, 1, {160, 0, 960, 720}},
        // The window sized around the frame: all of it, also where the
        // scale rounds the area by a device pixel.
        {{1280, 720}, {640, 360}, 2, {0, 0, 640, 360}},
        {{1280, 720}, {853, 480}, 1.5, {0, 0, 853, 480}},
        {{1280, 720}, {1279, 720}, 1, {0, 0, 1279, 720}},
        // No frame yet: the whole area (painted black).
        {{0, 0}, {320, 240}, 1, {0, 0, 320, 240}},
        // At 200 %, on device pixels (half units).
        {{1920, 1080}, {782, 572}, 2, {0, 66, 782, 440}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frame.width());
        EXPECT_EQ(gst::PictureRect(c.frame, c.area, c.scale), c.drawn);
    }
}

TEST(FramePlacement, BarsAreBlackAndThePictureFillsTheRest) {
    QImage frame(16, 9, QImage::Format_RGB32);
    frame.fill(Qt::white);
    QImage canvas(160, 120, QImage::Format_RGB32);
    canvas.fill(Qt::red);
    QPainter painter(&canvas);
    gst::PaintPicture(painter, QRectF(0, 0, 160, 120), frame, 1);
    painter.end();
    // 160 x 90 in the middle, 15 rows of black above and below.
    for (int y : {0, 14, 105, 119})
        EXPECT_EQ(canvas.pixel(80, y), qRgb(0, 0, 0)) << y;
    for (int y : {15, 60, 104})
        EXPECT_EQ(canvas.pixel(80, y), qRgb(255, 255, 255)) << y;
}

TEST(ScaledScreens, FramesGetTheirDevicePixelsAndTheSameFirstFormatAtEveryScale) {
    // The video area in the program's units for a frame, pixel for pixel.
    EXPECT_EQ(TViewForm::VideoAreaFor({1280, 720}, 2), QSize(640, 360));
    EXPECT_EQ(TViewForm::VideoAreaFor({1280, 720}, 1.5), QSize(853, 480));
    EXPECT_EQ(TViewForm::VideoAreaFor({640, 480}, 1), QSize(640, 480));
    EXPECT_EQ(TViewForm::VideoAreaFor({1, 1}, 3), QSize(1, 1));

    // A 1920 x 1080 screen: its work area in the program's units at each
    // scale, the preview's frame (36 x 56) and the panel (72) taken away.
    const QSize frame(36, 56);
    const QSize atOne = TWindowPlacement::VideoRoom({0, 0, 1920, 1080}, frame, 72, 1);
    // The common 1080p webcam's smooth formats (MJPG at 30 frames a second)
    // and raw ones at low rates.
    const std::vector<TVideoOffer> webcam = {
        {1920, 1080, 5, false}, {1280, 720, 10, false}, {640, 480, 30, false},
        {1920, 1080, 30, true}, {1280, 720, 30, true},  {800, 600, 30, true},
        {640, 480, 30, true},   {320, 240, 30, true}};
    const int chosen = ChooseFirstVideoFormat(webcam, atOne.width(), atOne.height());
    ASSERT_EQ(chosen, 4);  // MJPG 1280 x 720
    for (qreal scale : {1.25, 1.5, 2.0}) {
        SCOPED_TRACE(scale);
        const QRect work(0, 0, qRound(1920 / scale), qRound(1080 / scale));
        const QSize room = TWindowPlacement::VideoRoom(work, frame, 72, scale);
        EXPECT_EQ(ChooseFirstVideoFormat(webcam, room.width(), room.height()), chosen);
    }
}

TEST(DialogPlacement, DialogsFitTheWorkAreaAndThePictureOnesGoBesideIt) {
    const QRect work(0, 0, 1600, 1200);
    const QRect preview(622, 300, 356, 296);
    const struct {
        const char* what;
        QRect frame;
        QSize least;
        QRect picture;
        bool beside;
        QRect placed;
    } cases[] = {
        {"right of the picture", {40, 50, 500, 400}, {100, 100}, preview, true,
         {978, 300, 500, 400}},
        {"left where the right has no room", {40, 50, 500, 400}, {100, 100},
         preview.translated(500, 0), true, {622, 300, 500, 400}},
        {"where it was when neither side has room", {40, 50, 700, 400}, {100, 100}, preview,
         true, {40, 50, 700, 400}},
        {"not beside: moved in as little as needed", {1400, 1000, 500, 400}, {100, 100}, preview,
         false, {1100, 800, 500, 400}},
        {"taller than the screen: shrunk to it", {100, 100, 512, 1580}, {100, 200}, QRect(), false,
         {100, 0, 512, 1200}},
        {"no smaller than its content allows", {100, 100, 512, 1580}, {100, 1300}, QRect(), false,
         {100, 0, 512, 1300}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(TDialogFit::Place(work, c.frame, c.least, c.picture, c.beside), c.placed);
    }
}

TEST(DeviceNames, EqualNamesAreToldApartByTheirRank) {
    EXPECT_EQ(DistinctDeviceNames({"Peer Camera", "Peer Camera", "USB Cam", "Peer Camera"}),
              QStringList({"Peer Camera", "Peer Camera (2)", "USB Cam", "Peer Camera (3)"}));
    EXPECT_TRUE(DistinctDeviceNames({}).isEmpty());
}

TEST(NumberLocales, NumbersAreWrittenAsTheTextsLanguageWritesThem) {
    const struct {
        const char* system;
        const char* catalogue;
        const char* numbers;
    } cases[] = {
        {"de_DE", "en", "en"},     // English texts under a German locale
        {"en_GB", "en", "en_GB"},  // the system's own country kept
        {"de_DE", "", "fr"},       // the program's French texts
        {"fr_CA", "", "fr_CA"},
        {"C", "", "C"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.system);
        EXPECT_EQ(NumberLocale(QLocale(QString::fromLatin1(c.system)),
                               QString::fromLatin1(c.catalogue))
                      .name(),
                  QLocale(QString::fromLatin1(c.numbers)).name());
    }
    EXPECT_EQ(NumberLocale(QLocale(QStringLiteral("de_DE")), QStringLiteral("en"))
                  .toString(440.0, 'f', 3),
              QStringLiteral("440.000"));
}

TEST(PropertyPages, TheWheelScrollsThePageUnlessAControlHasTheFocus) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* scroll = new gst::PageScroll(&window, 480);
    auto* content = new QWidget(scroll);
    auto* column = new QVBoxLayout(content);
    std::vector<QSpinBox*> spins;
    for (int i = 0; i < 40; ++i) {
        spins.push_back(new QSpinBox(content));
        spins.back()->setValue(50);
        column->addWidget(spins.back());
    }
    scroll->setWidget(content);
    scroll->Fit();
    layout->addWidget(scroll);
    window.resize(300, 200);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    // Taller than its room: it may shrink to a few rows, and prefers 480.
    EXPECT_EQ(scroll->sizeHint().height(), 480);
    EXPECT_LT(scroll->minimumSizeHint().height(), 120);

    // A wheel turn over a spin box: left unaccepted while it has no focus,
    // so that Qt hands the window system's turn on to the parents (the
    // column scrolls).
    auto wheel = [](QWidget* target) {
        const QPointF at(target->width() / 2.0, target->height() / 2.0);
        QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
        return event.isAccepted();
    };
    QSpinBox* spin = spins[1];
    EXPECT_FALSE(wheel(spin));
    EXPECT_EQ(spin->value(), 50) << "an unfocused spin box took the wheel";

    spin->setFocus();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return spin->hasFocus(); }, 2000));
    EXPECT_TRUE(wheel(spin));
    EXPECT_NE(spin->value(), 50) << "the focused spin box did not take the wheel";
}

TEST(PropertyPages, TheFrameStartsWithTheFocusOnItsPagesFirstList) {
    gst::PropertyFrame frame(nullptr, QStringLiteral("Format"));
    auto* page = new gst::PropertyPage(&frame);
    auto* layout = new QVBoxLayout(page);
    auto* list = new QListWidget(page);
    list->addItems({"320 x 240", "640 x 480"});
    layout->addWidget(list);
    frame.AddPage(page);
    frame.show();
    EXPECT_EQ(frame.focusWidget(), list);
}

TEST(ImageButtonKeys, SpaceOnReleaseAndReturnClickTheFocusedButton) {
    QWidget window;
    auto* button = new TImageButton(&window);
    int clicks = 0;
    button->OnClick = [&](QObject*) { ++clicks; };
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    button->TakeKeyboardFocus();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return button->hasFocus(); }, 2000));
    EXPECT_TRUE(button->ShowsFocusMark());

    QTest::keyPress(button, Qt::Key_Space);
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(button->State(), TImageButton::bsDown);
    QTest::keyRelease(button, Qt::Key_Space);
    EXPECT_EQ(clicks, 1);
    EXPECT_NE(button->State(), TImageButton::bsDown);
    QTest::keyClick(button, Qt::Key_Return);
    QTest::keyClick(button, Qt::Key_Enter);
    EXPECT_EQ(clicks, 3);
    // Space held while the focus goes: no click.
    QTest::keyPress(button, Qt::Key_Space);
    button->clearFocus();
    QTest::keyRelease(button, Qt::Key_Space);
    EXPECT_EQ(clicks, 3);
}

namespace {

class PanelKeysTest : public ControlFormTestBase {
  protected:
    void SetUp() override {
        ControlFormTestBase::SetUp();
        UseOwnSaveFolders();
        services.Launch = [this](TLaunchVerb, const QString& path) { opened.push_back(path); };
        sys.AddVideoDevice("Cam", {fake::VideoFormat(MEDIASUBTYPE_YUY2, 320, 240, 16)});
        form = std::make_unique<TControlForm>();
        ASSERT_TRUE(SettleSession(*form));
        form->show();
        access = form->findChild<TPanelAccess*>();
        ASSERT_NE(access, nullptr);
    }
    void TearDown() override {
        form.reset();
        ControlFormTestBase::TearDown();
    }
    void AddEntries(int count) {
        for (int i = 0; i < count; ++i)
            form->AddToStrip(VideoFile(i + 1));
    }
    QStringList Stops() {
        QStringList names;
        for (QWidget* w : access->TabStops())
            names << w->objectName();
        return names;
    }
    TPaintBox* Box(int i) {
        return QList<TPaintBox*>{form->BmpView1, form->BmpView2, form->BmpView3,
                                 form->BmpView4}[i];
    }

    fake::FakeMediaSystem sys;
    std::unique_ptr<TControlForm> form;
    TPanelAccess* access = nullptr;
    std::vector<QString> opened;
};

}  // namespace

TEST_F(PanelKeysTest, TheFoldedStripIsHiddenAndTheOpenOnesEntriesJoinTheTabOrder) {
    const QStringList buttons = {"btnCapture", "btnSnapShot", "btnEditImg", "btnMail",
                                 "btnConfig",  "btnExpand"};
    EXPECT_EQ(Stops(), buttons + QStringList({"btnMinimize", "btnClose"}));
    for (QWidget* w : {static_cast<QWidget*>(form->BmpView1), static_cast<QWidget*>(form->imgPrev),
                       static_cast<QWidget*>(form->btnDelete), static_cast<QWidget*>(form->lblBmp1)})
        EXPECT_TRUE(w->isHidden()) << w->objectName().toStdString();

    AddEntries(2);
    EXPECT_TRUE(PanelState(*form).Expanded);
    EXPECT_EQ(Stops(), buttons + QStringList({"BmpView1", "BmpView2", "btnDelete",
                                              "btnDeleteAll", "btnMinimize", "btnClose"}));
    EXPECT_FALSE(form->lblBmp2->isHidden());
    EXPECT_TRUE(form->lblBmp3->isHidden());

    // Folded, nothing of the strip shows, its captions neither; the
    // strip's button hidden stays hidden when its action changes.
    form->actExpand->Execute();
    EXPECT_TRUE(form->lblBmp1->isHidden());
    EXPECT_TRUE(form->btnDelete->isHidden());
    form->actBmpDelete->SetEnabled(false);
    form->actBmpDelete->SetEnabled(true);
    EXPECT_TRUE(form->btnDelete->isHidden());
    form->actExpand->Execute();
    EXPECT_FALSE(form->lblBmp1->isHidden());
    EXPECT_FALSE(form->btnDelete->isHidden());
    // Unfolded, the arrow has the minimise button's hint, not its name.
    EXPECT_EQ(form->btnExpand->Hint(), form->btnMinimize->Hint());
    EXPECT_NE(QAccessible::queryAccessibleInterface(form->btnExpand)->text(QAccessible::Name),
              QAccessible::queryAccessibleInterface(form->btnMinimize)->text(QAccessible::Name));
}

// At start the first button has the focus; a menu that closes gives it to
// the button that opened it, not back to the control that had it.
TEST_F(PanelKeysTest, TheFocusStartsOnTheFirstButtonAndComesBackToTheOpener) {
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->focusWidget() == form->btnCapture; }, 2000));
    EXPECT_TRUE(form->btnCapture->ShowsFocusMark());
    QTest::keyClick(form->btnMail, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->menuMail->isVisible(); }, 2000));
    QTest::keyClick(form->menuMail, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->focusWidget() == form->btnMail; }, 2000));
    EXPECT_TRUE(form->btnMail->ShowsFocusMark());
}

TEST_F(PanelKeysTest, ArrowsPageAndSelectReturnOpensDeleteRemoves) {
    AddEntries(6);  // entries 2..5 shown, the last selected
    ASSERT_EQ(PanelState(*form).FirstVisible, 2);
    ASSERT_EQ(PanelState(*form).Selected, 5);
    // Left from the last box's entry, then past the first box: the strip
    // pages back one entry.
    const struct {
        int key;
        int box;  // the box the key goes to
        int first, selected;
    } steps[] = {
        {Qt::Key_Left, 3, 2, 4}, {Qt::Key_Up, 2, 2, 3},   {Qt::Key_Left, 1, 2, 2},
        {Qt::Key_Left, 0, 1, 1}, {Qt::Key_Left, 0, 0, 0}, {Qt::Key_Left, 0, 0, 0},
        {Qt::Key_Right, 0, 0, 1}, {Qt::Key_Down, 1, 0, 2},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.selected);
        QTest::keyClick(Box(s.box), Qt::Key(s.key));
        EXPECT_EQ(PanelState(*form).FirstVisible, s.first);
        EXPECT_EQ(PanelState(*form).Selected, s.selected);
        EXPECT_EQ(form->focusWidget(), Box(s.selected - s.first));
    }
    QTest::keyClick(Box(2), Qt::Key_Return);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], VideoFile(3));
    QTest::keyClick(Box(2), Qt::Key_Delete);
    EXPECT_EQ(PanelState(*form).FileCount, 5);
    EXPECT_FALSE(form->StripFiles().contains(VideoFile(3)));
    EXPECT_EQ(form->SelectedFile(), VideoFile(4));
    EXPECT_EQ(form->focusWidget(), Box(2));
    // Space selects as a click does.
    QTest::keyClick(Box(0), Qt::Key_Space);
    EXPECT_EQ(form->SelectedFile(), VideoFile(1));
}
