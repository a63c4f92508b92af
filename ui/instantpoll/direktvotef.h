#pragma once
// The instant poll: one poll without a series. Its decisions live in `DirektvoteLogic`; the window
// owns the controls and `Timer_n`, forwards events and shows `view()`.

#include <QWidget>

#include "ui/common/first_showing.h"
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

class TFdirektvote : public ControlsOnFirstShowing<QWidget> {
    Q_OBJECT
public:
    explicit TFdirektvote(WindowServices services, QWidget *parent = nullptr);

    // The statistics window "Alte Ergebnisse" opens; it is created after this one.

    // Handlers, as a click or a tick runs them.
    void Button1Click(); // the action button
    void Button2Click(); // "Alte Ergebnisse"
    void Button3Click(); // "Fenster schließen"
    void Button4Click(); // "Abstimm-Link": the audience's link and QR code in a window for the projector
    void Timer_nTimer(); // one second of a running poll

    const DirektvoteLogic &logic() const { return m_logic; }

protected:
    void makeControls() override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    DirektvoteInput input();
    void render();

    WindowServices m_services;
    DirektvoteLogic m_logic;
    JoinLinkSource m_joinLink;
    JoinLinkDialog *m_joinLinkDialog = nullptr; // made on first use
    bool m_joinLinkShowing = false;

    QGroupBox *GroupBox1 = nullptr, *GroupBox2 = nullptr, *RadioGroup1 = nullptr;
    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr, *Label5 = nullptr,
           *Label6 = nullptr, *Image1 = nullptr;
    QLineEdit *Edit1 = nullptr, *Edit2 = nullptr;
    QButtonGroup *m_kinds = nullptr;
    QPushButton *Button1 = nullptr, *Button2 = nullptr, *Button3 = nullptr, *Button4 = nullptr;
    QTimer *Timer_n;
    bool m_chartShown = false; // Image1 holds a chart, not the blank picture
};

} // namespace kv
