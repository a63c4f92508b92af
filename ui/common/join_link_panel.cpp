#include "ui/common/join_link_panel.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/common/fonts.h"

namespace kv {

JoinPanelLayout joinPanelLayout(QSize panel, int modules)
{
    JoinPanelLayout l;
    const int margin = std::max(8, panel.height() / 40);
    // The text takes the lower fifth, the QR code the rest: a phone across the room needs a big code.
    const int textHeight = std::max(40, panel.height() / 5);
    const int qrSpace = std::min(panel.width() - 2 * margin, panel.height() - textHeight - 2 * margin);
    const int withQuiet = modules + 2 * kQrQuietModules;
    l.modulePixels = modules > 0 ? std::max(1, qrSpace / withQuiet) : 0;
    const int qrPixels = l.modulePixels * withQuiet;
    l.qr = QRect((panel.width() - qrPixels) / 2, margin, qrPixels, qrPixels);
    l.text = QRect(margin, l.qr.bottom() + 1, panel.width() - 2 * margin,
                   panel.height() - l.qr.bottom() - 1 - margin);
    l.fontPixels = std::max(12, std::min(textHeight / 3, panel.width() / 22));
    return l;
}

JoinLinkPanel::JoinLinkPanel(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("AbstimmLinkPanel"));
    setAccessibleName(QStringLiteral("Abstimm-Link"));
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(false);
}

void JoinLinkPanel::setContent(const QString &link, const QString &sessionCode)
{
    if (link != m_link)
        m_qr = encodeQr(link);
    m_link = link;
    m_sessionCode = sessionCode;
    setAccessibleDescription(
        sessionCode.isEmpty() ? link : link + QStringLiteral(" – Sitzungscode: ") + sessionCode);
    update();
}

void JoinLinkPanel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.setPen(QColor(0x30, 0x30, 0x30));
    p.drawRect(rect().adjusted(0, 0, -1, -1));

    const JoinPanelLayout l = joinPanelLayout(size(), m_qr.size);
    // Whole pixels per module and no antialiasing: the code stays sharp at any size.
    p.setRenderHint(QPainter::Antialiasing, false);
    const int origin = kQrQuietModules * l.modulePixels;
    for (int y = 0; y < m_qr.size; ++y)
        for (int x = 0; x < m_qr.size; ++x)
            if (m_qr.dark(x, y))
                p.fillRect(l.qr.x() + origin + x * l.modulePixels, l.qr.y() + origin + y * l.modulePixels,
                           l.modulePixels, l.modulePixels, Qt::black);

    p.setFont(arialPixels(l.fontPixels, true));
    p.setPen(Qt::black);
    // The session code beside the link, or under it when both do not fit on one line.
    QString text = m_link;
    if (!m_sessionCode.isEmpty()) {
        const QString code = QStringLiteral("Sitzungscode: ") + m_sessionCode;
        const QString oneLine = text + QStringLiteral("   ") + code;
        text = p.fontMetrics().horizontalAdvance(oneLine) <= l.text.width() ? oneLine
                                                                            : text + QLatin1Char('\n') + code;
    }
    p.drawText(l.text, Qt::AlignCenter | Qt::TextWrapAnywhere, text);
}

void JoinLinkPanel::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    dismiss();
}

void JoinLinkPanel::keyPressEvent(QKeyEvent *event)
{
    event->accept();
    dismiss();
}

void JoinLinkPanel::dismiss()
{
    hide();
    emit dismissed();
}

JoinLinkDialog::JoinLinkDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("AbstimmLinkDialog"));
    setWindowTitle(QStringLiteral("Abstimm-Link"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_panel = new JoinLinkPanel(this);
    layout->addWidget(m_panel);
    connect(m_panel, &JoinLinkPanel::dismissed, this, &QDialog::accept);
    // Sized for a projector: most of the screen's height, a little wider than high.
    const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    const QSize avail = screen ? screen->availableGeometry().size() : QSize(1280, 800);
    const int h = std::max(480, avail.height() * 4 / 5);
    resize(std::min(avail.width(), h * 5 / 6), h);
}

void JoinLinkDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    m_panel->show();
    m_panel->setFocus();
}

} // namespace kv
