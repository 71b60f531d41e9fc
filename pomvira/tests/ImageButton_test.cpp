// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QHelpEvent>
#include <QImage>
#include <QTest>
#include <QToolTip>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>
#include <memory>

#include "widgets/ActionList.h"
#include "widgets/ImageButton.h"

namespace {

const QColor kParentColor(10, 200, 30);
const QColor kUpColor(220, 30, 30);
const QColor kDownColor(30, 30, 220);
const QColor kActiveColor(230, 230, 20);
const QColor kDisableColor(128, 128, 128);

QImage Solid(const QColor& color, int w = 40, int h = 30) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

// A shown, coloured form with one button at (20, 20); the mouse is driven
// through the form's window so that Qt routes it as it would a real one
// (implicit grab, enter and leave, double clicks).
class ImageButtonTest : public ::testing::Test {
  protected:
    void SetUp() override {
        form = std::make_unique<QWidget>();
        form->resize(200, 150);
        QPalette pal = form->palette();
        pal.setColor(QPalette::Window, kParentColor);
        form->setPalette(pal);
        form->setAutoFillBackground(true);
        button = new TImageButton(form.get());
        button->move(20, 20);
        button->OnClick = [this](QObject* sender) {
            EXPECT_EQ(sender, button);
            ++clicks;
        };
        button->OnMouseEnter = [this](QObject*) { ++enters; };
        button->OnMouseLeave = [this](QObject*) { ++leaves; };
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        window = form->windowHandle();
        QTest::mouseMove(window, QPoint(150, 130));  // start on the bare form
    }

    void GiveAllPictures() {
        button->SetImageUp(Solid(kUpColor));
        button->SetImageDown(Solid(kDownColor));
        button->SetImageActive(Solid(kActiveColor));
        button->SetImageDisable(Solid(kDisableColor));
    }

    // Form coordinates of a point inside the button and one outside it.
    QPoint Inside() const { return button->geometry().center(); }
    QPoint Outside() const { return QPoint(150, 130); }

    void MoveTo(QPoint p) { QTest::mouseMove(window, p); }
    void Press(QPoint p) { QTest::mousePress(window, Qt::LeftButton, {}, p); }
    void Release(QPoint p) { QTest::mouseRelease(window, Qt::LeftButton, {}, p); }

    // The colour the form shows in the middle of the button.
    QColor Shown() const { return form->grab().toImage().pixelColor(Inside()); }

    std::unique_ptr<QWidget> form;
    TImageButton* button = nullptr;
    QWindow* window = nullptr;
    int clicks = 0, enters = 0, leaves = 0;
};

TEST_F(ImageButtonTest, NewButtonHasTheDesignedDefaults) {
    TImageButton b;
    EXPECT_EQ(b.size(), QSize(105, 105));
    EXPECT_TRUE(b.AutoSize());
    EXPECT_FALSE(b.Checked());
    EXPECT_EQ(b.OffsetX, 2);
    EXPECT_EQ(b.OffsetY, 2);
    EXPECT_TRUE(b.ShowHint);
    EXPECT_EQ(b.State(), TImageButton::bsUp);
    EXPECT_FALSE(b.Pressed());
    EXPECT_TRUE(b.ImageUp().isNull());
    EXPECT_EQ(b.Action(), nullptr);
}

TEST_F(ImageButtonTest, ButtonWithoutPicturesDrawsNothingAndStillClicks) {
    button->resize(30, 30);
    EXPECT_EQ(Shown(), kParentColor);
    MoveTo(Inside());
    EXPECT_EQ(button->State(), TImageButton::bsActive);
    EXPECT_EQ(Shown(), kParentColor);
    Press(Inside());
    EXPECT_EQ(button->State(), TImageButton::bsDown);
    EXPECT_EQ(Shown(), kParentColor);
    Release(Inside());
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(Shown(), kParentColor);
}

TEST_F(ImageButtonTest, OnlyImageUpStaysShownWhenHoveredAndPressed) {
    button->SetImageUp(Solid(kUpColor));
    EXPECT_EQ(Shown(), kUpColor);
    MoveTo(Inside());
    EXPECT_EQ(Shown(), kUpColor);
    Press(Inside());
    EXPECT_EQ(button->State(), TImageButton::bsDown);
    EXPECT_EQ(Shown(), kUpColor);
    Release(Inside());
    EXPECT_EQ(clicks, 1);
}

TEST_F(ImageButtonTest, PicturesFollowTheMouseWhileHeldAndAClickCounts) {
    GiveAllPictures();
    EXPECT_EQ(button->size(), QSize(40, 30));
    EXPECT_EQ(Shown(), kUpColor);

    MoveTo(Inside());
    EXPECT_EQ(enters, 1);
    EXPECT_EQ(Shown(), kActiveColor);

    Press(Inside());
    EXPECT_TRUE(button->Pressed());
    EXPECT_EQ(Shown(), kDownColor);

    MoveTo(Outside());  // still held: the active look, no click yet
    EXPECT_EQ(leaves, 1);
    EXPECT_EQ(button->State(), TImageButton::bsActive);
    EXPECT_TRUE(button->Pressed());
    EXPECT_EQ(Shown(), kActiveColor);

    MoveTo(Inside());  // back on it: down again
    EXPECT_EQ(enters, 2);
    EXPECT_EQ(button->State(), TImageButton::bsDown);

    Release(Inside());
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(button->Pressed());
    // Up after the click, although the pointer is still over the button.
    EXPECT_EQ(button->State(), TImageButton::bsUp);
    EXPECT_EQ(Shown(), kUpColor);

    MoveTo(Outside());
    MoveTo(Inside());
    EXPECT_EQ(button->State(), TImageButton::bsActive);
    EXPECT_EQ(enters, 3);
    EXPECT_EQ(leaves, 2);
}

TEST_F(ImageButtonTest, ReleaseOutsideGivesNoClickAndLeavesTheLookUp) {
    GiveAllPictures();
    int ups = 0;
    button->OnMouseUp = [&](QObject*, Qt::MouseButton b, Qt::KeyboardModifiers, int, int) {
        EXPECT_EQ(b, Qt::LeftButton);
        ++ups;
    };
    MoveTo(Inside());
    Press(Inside());
    MoveTo(Outside());
    Release(Outside());
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(ups, 1);
    EXPECT_FALSE(button->Pressed());
    EXPECT_EQ(button->State(), TImageButton::bsUp);
    EXPECT_EQ(Shown(), kUpColor);
    // The leave seen while held is not reported a second time on release.
    EXPECT_EQ(leaves, 1);
    EXPECT_EQ(enters, 1);
}

TEST_F(ImageButtonTest, DoubleClickGivesOneClick) {
    GiveAllPictures();
    int downs = 0;
    button->OnMouseDown = [&](QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
        ++downs;
    };
    MoveTo(Inside());
    QTest::mouseDClick(window, Qt::LeftButton, {}, Inside());
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(downs, 2);  // the press and the double click
    EXPECT_FALSE(button->Pressed());
    EXPECT_EQ(button->State(), TImageButton::bsUp);
    EXPECT_EQ(Shown(), kUpColor);
}

TEST_F(ImageButtonTest, DisabledButtonIgnoresTheMouseAndPicksItsPicture) {
    button->SetImageUp(Solid(kUpColor));
    button->SetImageDown(Solid(kDownColor));
    button->SetImageActive(Solid(kActiveColor));
    MoveTo(Inside());
    EXPECT_EQ(button->State(), TImageButton::bsActive);
    button->setEnabled(false);
    EXPECT_EQ(button->State(), TImageButton::bsUp);  // an enabled change resets the look
    // Without ImageDisable the enabled rules decide: Checked, then the state.
    EXPECT_EQ(Shown(), kUpColor);
    button->SetChecked(true);
    EXPECT_EQ(Shown(), kDownColor);
    button->SetChecked(false);
    button->SetImageDisable(Solid(kDisableColor));
    EXPECT_EQ(Shown(), kDisableColor);

    Press(Inside());
    Release(Inside());
    EXPECT_EQ(clicks, 0);
    EXPECT_FALSE(button->Pressed());
    MoveTo(Outside());
    EXPECT_EQ(leaves, 0);
}

TEST_F(ImageButtonTest, ReleaseWhileDisabledIsIgnoredEntirely) {
    GiveAllPictures();
    MoveTo(Inside());
    Press(Inside());
    button->setEnabled(false);
    Release(Inside());
    EXPECT_EQ(clicks, 0);
    EXPECT_TRUE(button->Pressed());  // the release never reached the button
    EXPECT_EQ(button->State(), TImageButton::bsUp);
}

TEST_F(ImageButtonTest, CheckedWithoutImageDownIsDrawnByTheState) {
    button->SetImageUp(Solid(kUpColor));
    button->SetImageActive(Solid(kActiveColor));
    button->SetChecked(true);
    EXPECT_EQ(Shown(), kUpColor);
    MoveTo(Inside());
    EXPECT_EQ(Shown(), kActiveColor);
    button->SetImageDown(Solid(kDownColor));
    EXPECT_EQ(Shown(), kDownColor);
}

// Bounding box of the dark (caption) pixels inside the button.
QRect CaptionBox(const QImage& image, const QRect& area) {
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (qGray(image.pixel(x, y)) < 60)
                box |= QRect(x, y, 1, 1);
    return box;
}

TEST_F(ImageButtonTest, CaptionShiftsOnlyWhileHeld) {
    button->SetImageUp(Solid(Qt::white, 80, 40));
    button->SetImageDown(Solid(Qt::white, 80, 40));
    button->SetImageActive(Solid(Qt::white, 80, 40));
    button->OffsetX = 5;
    button->OffsetY = 3;
    QPalette pal = button->palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    button->setPalette(pal);
    button->SetCaption("Hi");
    const QRect area = button->geometry();
    const QRect normal = CaptionBox(form->grab().toImage(), area);
    ASSERT_FALSE(normal.isEmpty());
    EXPECT_NEAR(normal.center().x(), area.center().x(), 2);
    EXPECT_NEAR(normal.center().y(), area.center().y(), 2);

    button->SetChecked(true);
    EXPECT_EQ(CaptionBox(form->grab().toImage(), area), normal);

    MoveTo(Inside());
    Press(Inside());
    EXPECT_EQ(CaptionBox(form->grab().toImage(), area), normal.translated(5, 3));
    MoveTo(Outside());  // held but off the button: not down, no shift
    EXPECT_EQ(CaptionBox(form->grab().toImage(), area), normal);
    Release(Outside());
}

TEST_F(ImageButtonTest, AutoSizeFollowsImageUp) {
    button->SetImageUp(Solid(kUpColor, 44, 44));
    EXPECT_EQ(button->size(), QSize(44, 44));
    button->resize(10, 10);
    button->SetAutoSize(false);  // still sizes to the picture it holds
    EXPECT_EQ(button->size(), QSize(44, 44));
    button->SetImageUp(Solid(kUpColor, 20, 20));
    EXPECT_EQ(button->size(), QSize(44, 44));
    button->SetAutoSize(true);
    EXPECT_EQ(button->size(), QSize(20, 20));
    // A picture that is not the button's own copy: changing it later does not
    // change the button.
    QImage source = Solid(kUpColor);
    button->SetImageDown(source);
    source.fill(Qt::black);
    EXPECT_EQ(button->ImageDown().pixelColor(0, 0), kUpColor);
}

TEST_F(ImageButtonTest, LinkedActionDrivesTheButtonAndRunsOnClick) {
    TActionList list;
    TAction* action = list.Add("actSnapShot", "Still cut");
    int executed = 0;
    action->OnExecute = [&](QObject*) { ++executed; };
    action->SetHint("Image Fixe");
    button->OnClick = nullptr;
    button->SetAction(action);
    EXPECT_EQ(button->Action(), action);
    EXPECT_EQ(button->Hint(), "Image Fixe");
    EXPECT_EQ(button->toolTip(), "Image Fixe");

    action->SetEnabled(false);
    EXPECT_FALSE(button->isEnabled());
    action->SetEnabled(true);
    EXPECT_TRUE(button->isEnabled());
    action->SetVisible(false);
    EXPECT_TRUE(button->isHidden());
    action->SetVisible(true);
    EXPECT_FALSE(button->isHidden());
    action->SetHint("Stop");
    EXPECT_EQ(button->Hint(), "Stop");

    button->resize(30, 30);
    MoveTo(Inside());
    Press(Inside());
    Release(Inside());
    EXPECT_EQ(executed, 1);

    // An OnClick handler takes the click's place.
    button->OnClick = [&](QObject*) { ++clicks; };
    button->Click();
    EXPECT_EQ(executed, 1);
    EXPECT_EQ(clicks, 1);

    // The link goes with the action.
    delete action;
    EXPECT_EQ(button->Action(), nullptr);
    button->OnClick = nullptr;
    button->Click();
}

TEST_F(ImageButtonTest, ButtonKeepsItsOwnHintWhileTheActionHasNone) {
    TActionList list;
    TAction* action = list.Add("actSnapShot", "Still cut");
    button->SetHint("Image Fixe");
    button->SetAction(action);
    EXPECT_EQ(button->Hint(), "Image Fixe");
    // Disabling the action (as during a recording) leaves the hint alone.
    action->SetEnabled(false);
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(button->Hint(), "Image Fixe");
    EXPECT_EQ(button->toolTip(), "Image Fixe");
    // An action that has a hint still gives it to the button.
    action->SetHint("Stop");
    EXPECT_EQ(button->Hint(), "Stop");
}

TEST_F(ImageButtonTest, HintIsShownAsToolTipOnlyWithShowHint) {
    button->SetHint("Configuration");
    auto ask = [&] {
        QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), button->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(button, &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    button->ShowHint = false;
    EXPECT_EQ(ask(), QString());
    button->ShowHint = true;
    EXPECT_EQ(ask(), "Configuration");
    QToolTip::hideText();
}

}  // namespace
