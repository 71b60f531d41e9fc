// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPixmap>
#include <QWidget>

class RunTime;

// A picture box: shows its picture unscaled from its top-left corner (the part
// outside the box is cut off) and reports a click, a press and release of the
// left mouse button inside it.
class PictureBox : public QWidget {
    Q_OBJECT
  public:
    explicit PictureBox(QWidget* parent = nullptr);

    void SetPicture(const QPixmap& picture);
    const QPixmap& Picture() const { return picture_; }

  signals:
    void Click();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QPixmap picture_;
    bool pressed_ = false;
};

// The install menu's one window: a picture with two picture buttons.
// Picture1 starts the camera driver's setup and the camera program's setup
// from the CD; Picture2 ends the menu.
class Form1 : public QWidget {
    Q_OBJECT
  public:
    // Sizes and places of the form, in twips (15 per pixel).
    static constexpr int kTwipsPerPixel = 15;
    static constexpr int kClientWidthTwips = 7650;
    static constexpr int kClientHeightTwips = 5865;

    // The two setups, started in this order, minimised with focus.
    static const QString kDriverSetup;
    static const QString kViewerSetup;
    static constexpr int kMinimizedFocus = 2;

    // Exit status of the program when a run-time error ended it.
    static constexpr int kRunTimeErrorExitCode = 1;

    explicit Form1(RunTime& runTime, QWidget* parent = nullptr);

    const QPixmap& Picture() const { return picture_; }

    PictureBox* Picture1;
    PictureBox* Picture2;

  public slots:
    void Picture1_Click();
    void Picture2_Click();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    // Closes the window without further events and ends the program.
    void End(int exitCode);

    RunTime& runTime_;
    QPixmap picture_;
};
