// SPDX-License-Identifier: GPL-3.0-or-later
#include "Form1.h"

#include <QIcon>
#include <QMouseEvent>
#include <QPainter>

#include "RunTime.h"

// The form's pictures are compiled into the program; a resource file linked
// from a static library has to be registered by hand.
static void InitCorvaneResources() {
    Q_INIT_RESOURCE(corvane);
}

namespace {

int Px(int twips) {
    return twips / Form1::kTwipsPerPixel;
}

QRect TwipsRect(int left, int top, int width, int height) {
    return QRect(Px(left), Px(top), Px(width), Px(height));
}

}  // namespace

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::PointingHandCursor);
}

void PictureBox::SetPicture(const QPixmap& picture) {
    picture_ = picture;
    update();
}

void PictureBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    painter.drawPixmap(0, 0, picture_);
}

void PictureBox::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        pressed_ = true;
    QWidget::mousePressEvent(event);
}

void PictureBox::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    const bool click = pressed_ && rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click)
        emit Click();
}

const QString Form1::kDriverSetup = QStringLiteral("\\setup\\setup.exe");
const QString Form1::kViewerSetup = QStringLiteral("\\viewer\\OmbraSetup.EXE");

Form1::Form1(RunTime& runTime, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      runTime_(runTime) {
    InitCorvaneResources();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Ombra Corvane Install"));
    setWindowIcon(QIcon(QStringLiteral(":/corvane/icon.png")));
    setFixedSize(Px(kClientWidthTwips), Px(kClientHeightTwips));
    setAttribute(Qt::WA_OpaquePaintEvent);
    picture_ = QPixmap(QStringLiteral(":/corvane/background.jpg"));

    Picture1 = new PictureBox(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setGeometry(TwipsRect(960, 3000, 735, 735));
    Picture1->SetPicture(QPixmap(QStringLiteral(":/corvane/install.bmp")));
    connect(Picture1, &PictureBox::Click, this, &Form1::Picture1_Click);

    Picture2 = new PictureBox(this);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    Picture2->setGeometry(TwipsRect(960, 3960, 735, 735));
    Picture2->SetPicture(QPixmap(QStringLiteral(":/corvane/exit.bmp")));
    connect(Picture2, &PictureBox::Click, this, &Form1::Picture2_Click);
}

void Form1::Picture1_Click() {
    // Both setups run side by side: the second starts right after the first,
    // without waiting. A failure leaves the rest undone and ends the menu.
    try {
        runTime_.Shell(kDriverSetup, kMinimizedFocus);
        runTime_.Shell(kViewerSetup, kMinimizedFocus);
    } catch (const RunTimeError& error) {
        runTime_.Report(error);
        End(kRunTimeErrorExitCode);
    }
}

void Form1::Picture2_Click() {
    End(0);
}

void Form1::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    painter.drawPixmap(0, 0, picture_);
}

void Form1::End(int exitCode) {
    hide();
    runTime_.End(exitCode);
}
