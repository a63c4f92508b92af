#pragma once
// The audience's voting link for the lecture hall: a white panel with the QR code (drawn sharp at
// any size, dark on white, with its quiet zone), the link in large text and the session code
// beside it (never inside the QR code). A click or a key anywhere on it closes it.

#include <QDialog>
#include <QRect>
#include <QWidget>

#include "ui/common/join_link.h"

namespace kv {

// Where the parts of the panel go in a panel of `panel`, for a QR code of `modules` modules a side
// (quiet zone excluded): the QR code centred in the upper part in whole pixels per module, the
// text below it.
struct JoinPanelLayout {
    int modulePixels = 0; // every module is a square of this many pixels
    QRect qr;             // the QR code with its quiet zone
    QRect text;           // the link and the session code
    int fontPixels = 0;   // the link's font size
};
JoinPanelLayout joinPanelLayout(QSize panel, int modules);

class JoinLinkPanel : public QWidget {
    Q_OBJECT
public:
    explicit JoinLinkPanel(QWidget *parent = nullptr);

    // What the panel shows; an empty session code shows none.
    void setContent(const QString &link, const QString &sessionCode);
    QString link() const { return m_link; }
    QString sessionCode() const { return m_sessionCode; }

signals:
    // A click or key closed the panel.
    void dismissed();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void dismiss();

    QString m_link;
    QString m_sessionCode;
    QrCode m_qr;
};

// The same panel in a window of its own, sized for a projector: the instant poll's "Abstimm-Link".
class JoinLinkDialog : public QDialog {
    Q_OBJECT
public:
    explicit JoinLinkDialog(QWidget *parent = nullptr);
    JoinLinkPanel *panel() const { return m_panel; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    JoinLinkPanel *m_panel;
};

} // namespace kv
