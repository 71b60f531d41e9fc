// SPDX-License-Identifier: GPL-3.0-or-later
#include "DevPurgeDlg.h"

#include <QFont>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "DevPurgeLogic.h"

// The icons live in the core library's resources; a static library has to register them.
static void InitDevPurgeResources() {
    Q_INIT_RESOURCE(devpurge);
}

namespace {

// Rounds like the integer scaling of dialog units: value * numerator / denominator, halves
// rounded away from zero.
int MulDiv(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}

}  // namespace

CDevPurgeDlg::CDevPurgeDlg(IDevPurgePlatform& platform, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_platform(platform),
      m_btnExit(new QPushButton(QStringLiteral("&Exit"), this)),
      m_btnReboot(new QPushButton(QStringLiteral("&Reboot"), this)),
      m_txtMessage(new QLabel(this)) {
    setObjectName(QStringLiteral("CDevPurgeDlg"));
    setWindowTitle(QStringLiteral("Lorvex Software Uninstallation"));
    const QFont font = DialogFont();
    setFont(font);
    const QPoint base = DialogBaseUnits(font);

    // Sizes in dialog units; the window's size is its client area.
    setFixedSize(MapDialogRect(QRect(0, 0, 308, 49), base).size());

    m_btnExit->setObjectName(QStringLiteral("btnExit"));
    m_btnExit->setGeometry(MapDialogRect(QRect(249, 7, 50, 14), base));
    m_btnExit->setDefault(true);
    m_btnExit->setFocusPolicy(Qt::StrongFocus);

    m_btnReboot->setObjectName(QStringLiteral("btnReboot"));
    m_btnReboot->setGeometry(MapDialogRect(QRect(249, 26, 50, 14), base));
    m_btnReboot->setFocusPolicy(Qt::StrongFocus);

    m_txtMessage->setObjectName(QStringLiteral("txtMessage"));
    m_txtMessage->setGeometry(MapDialogRect(QRect(7, 7, 225, 33), base));
    m_txtMessage->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_txtMessage->setLineWidth(1);
    m_txtMessage->setIndent(0);  // the text starts right inside the border
    m_txtMessage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_txtMessage->setWordWrap(true);
    m_txtMessage->setTextFormat(Qt::PlainText);
    m_txtMessage->setText(QStringLiteral(
        "All software are removed successfully by this program. If you want to reinstall "
        "Lorvex software, please reboot windows system."));

    setTabOrder(m_btnExit, m_btnReboot);
    m_btnExit->setFocus();

    InitDevPurgeResources();
    QIcon icon;
    icon.addPixmap(QPixmap(QStringLiteral(":/devpurge/devpurge32.xpm")));
    icon.addPixmap(QPixmap(QStringLiteral(":/devpurge/devpurge16.xpm")));
    setWindowIcon(icon);

    connect(m_btnExit, &QPushButton::clicked, this, &CDevPurgeDlg::OnExit);
    connect(m_btnReboot, &QPushButton::clicked, this, &CDevPurgeDlg::OnReboot);
}

QFont CDevPurgeDlg::DialogFont() {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    return font;
}

QPoint CDevPurgeDlg::DialogBaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return QPoint((width + 26) / 52, metrics.height());
}

QRect CDevPurgeDlg::MapDialogRect(const QRect& dialogUnits, const QPoint& baseUnits) {
    return QRect(MulDiv(dialogUnits.x(), baseUnits.x(), 4),
                 MulDiv(dialogUnits.y(), baseUnits.y(), 8),
                 MulDiv(dialogUnits.width(), baseUnits.x(), 4),
                 MulDiv(dialogUnits.height(), baseUnits.y(), 8));
}

void CDevPurgeDlg::OnExit() {
    accept();
}

void CDevPurgeDlg::OnReboot() {
    // The window stays open: the restart ends the program, and a refused restart leaves the
    // user the choice to exit.
    RebootSystem(m_platform);
}
