#pragma once
// The instant poll: one poll without a series. Its decisions live in `DirektvoteLogic`; the window
// owns the controls and `Timer_n`, forwards events and shows `view()`.

#include <QWidget>

#include "ui/common/join_link.h"
#include "ui/common/window_services.h"
#include "ui/instantpoll/direktvote_logic.h"

class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace kv {

class JoinLinkDialog;
class TFStatistik;

class TFdirektvote : public QWidget {
    Q_OBJECT
public:
    explicit TFdirektvote(WindowServices services, QWidget *parent = nullptr);

    // The statistics window "Alte Ergebnisse" opens; it is created after this one.
    void setStatisticsWindow(TFStatistik *statistics) { m_statistics = statistics; }

    // Handlers, as a click or a tick runs them.
    void Button1Click(); // the action button
    void Button2Click(); // "Alte Ergebnisse"
    void Button3Click(); // "Fenster schließen"
    void Button4Click(); // "Abstimm-Link": the audience's link and QR code in a window for the projector
    void Timer_nTimer(); // one second of a running poll

    const DirektvoteLogic &logic() const { return m_logic; }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    DirektvoteInput input() const;
    void render();

    WindowServices m_services;
    DirektvoteLogic m_logic;
    TFStatistik *m_statistics = nullptr;
    JoinLinkSource m_joinLink;
    JoinLinkDialog *m_joinLinkDialog = nullptr; // made on first use
    bool m_joinLinkShowing = false;

    QGroupBox *GroupBox1, *GroupBox2, *RadioGroup1;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Image1;
    QLineEdit *Edit1, *Edit2;
    QButtonGroup *m_kinds;
    QPushButton *Button1, *Button2, *Button3, *Button4;
    QTimer *Timer_n;
    bool m_chartShown = false; // Image1 holds a chart, not the blank picture
};

} // namespace kv
