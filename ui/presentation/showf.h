#pragma once
// The presentation window: one question of a series at a time on the lecture-hall screen, its
// live poll and its result. The decisions live in `ShowLogic`; the window owns the page's controls,
// the context menu and the four timers, forwards clicks, keys and ticks, and shows the page the
// logic describes.

#include <QColor>
#include <QWidget>
#include <array>

#include "ui/common/first_showing.h"
#include "ui/common/join_link.h"
#include "ui/common/join_link_panel.h"
#include "ui/common/window_services.h"
#include "ui/presentation/show_logic.h"

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;

namespace kv {

// A result bar: the solid colour of its bar picture from the top-left corner, at most the
// picture's 1600 x 250 pixels; the rest of a larger bar stays unpainted.
class BarImage : public QWidget {
public:
    BarImage(const QColor &colour, QWidget *parent);
    QColor colour() const { return m_colour; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_colour;
};

class TFshow : public ControlsOnFirstShowing<QWidget> {
    Q_OBJECT
public:
    explicit TFshow(WindowServices services, QWidget *parent = nullptr);

    // Loads the series to present and shows its first question; false (after telling the user
    // why) when the file cannot be read or holds no question. The caller shows the window.
    bool PraesentationStarten(const QString &datei);
    // PraesentationStarten, then the window is shown when it started.
    bool present(const QString &datei);

    // Handlers, as a click, key or tick runs them.
    void Fortschalten();
    void Zurueckschalten();
    void Button1Click(); // the main button: a step forward, then the focus goes back to the window
    void Button2Click(); // "OK" of the session code
    void Button3Click(); // "Fenster schließen"
    void jumpTo(int k);  // an entry of "Springe zu Frage ..."
    // "Abstimm-Link anzeigen": the audience's link and QR code over the page until the next click
    // or key. Changes no stage and sends no poll request.
    void showJoinLink();
    void Timer_nTimer(); // one second of a poll
    void AnzeigeTimerTimer();
    void Timer1Timer(); // the re-layout after a size change
    void weitertimerTimer();

    const ShowLogic &logic() const { return m_logic; }
    // The context menu, made with the page's controls on the first showing (or here).
    QMenu *contextMenu()
    {
        buildControls();
        return PopupMenu1;
    }

protected:
    void makeControls() override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showPage(); // shows the page the logic describes and runs the timers it asks for
    void syncTimers();
    void rebuildJumpList();
    void setCheckMarks();
    bool handleKey(QKeyEvent *key);
    void escapeFullScreen();
    void placeJoinPanel();
    QRect screenGeometry() const;

    WindowServices m_services;
    ShowLogic m_logic;

    std::array<QGroupBox *, 6> m_boxes{}; // GroupBox1..GroupBox6
    std::array<QLabel *, 6> m_texts{};    // Label1..Label6
    std::array<BarImage *, 5> m_bars{};   // Image1..Image5
    std::array<QLabel *, 5> m_percents{}; // Label8..Label12
    QLabel *Label13 = nullptr;            // the status line
    QFrame *Panel1 = nullptr;             // the message panel
    QLabel *Anzeige = nullptr;
    QFrame *Panel2 = nullptr; // the session code panel
    QLineEdit *Edit1 = nullptr;
    QPushButton *Button1 = nullptr, *Button2 = nullptr, *Button3 = nullptr;
    QMenu *PopupMenu1 = nullptr, *SpringezuFrage = nullptr;
    QAction *Zurck1 = nullptr, *FragenAntwortennacheinander1 = nullptr, *Umfrageautomatischstarten1 = nullptr,
            *GroeSchrift1 = nullptr, *WeieZwischenseiten1 = nullptr, *WeiterButton1 = nullptr,
            *SessionCodeeingeben1 = nullptr;
    QTimer *Timer1, *weitertimer, *AnzeigeTimer, *Timer_n;
    QAction *AbstimmLinkanzeigen1 = nullptr;
    JoinLinkSource m_joinLink;
    JoinLinkPanel *m_joinPanel = nullptr;
    bool m_joinLinkShowing = false;
};

} // namespace kv
