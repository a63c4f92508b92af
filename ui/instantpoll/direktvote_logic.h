#pragma once
// The instant poll's decisions, without widgets: the cycle idle → running → result shown, the
// per-second tick (live vote count or countdown), the end step with and without `OhneErgebnis`,
// the history record and closing. `TFdirektvote` forwards its events here and shows `view()`.

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

#include "core/recdef.h"
#include "net/server_operations.h"
#include "ui/common/dialogs.h"
#include "ui/common/live_count.h" // countdownText, shared with the presentation
#include "ui/instantpoll/chart_geometry.h"

namespace kv {

// The answer layout code of an item of "Art der Frage" (1 "Ja / Nein - Frage" .. 5 "A / B / C / D
// / E - Frage"): 9, 2, 3, 4, 5. Anything else is item 5.
uint16_t layoutCodeForKind(int item);

// What the window reads from its fields when the action button is clicked.
struct DirektvoteInput {
    QString sessionCode;  // Edit1
    QString questionText; // Edit2
    int kindItem = 5;     // RadioGroup1, 1..5
};

// What the window shows. Every event of the logic leaves it complete.
struct DirektvoteView {
    QString userLabel;                                          // Label1
    QString actionCaption = QStringLiteral("Umfrage starten."); // Button1
    bool closeVisible = true;                                   // Button3
    bool kindVisible = true;                                    // RadioGroup1, shown and enabled
    bool resultVisible = false;                                 // GroupBox2
    QString resultCaption = QStringLiteral("Ergebnis");
    std::optional<ChartGeometry> chart; // Image1; none: blank white
    bool statusVisible = false;         // Label4
    QString statusText;
    bool runningVisible = false; // Label2 "Umfrage läuft"
    bool questionLabelVisible = false;
    QString questionLabel;            // Label6
    bool questionFieldVisible = true; // Edit2 with Label5
    bool fieldsReadOnly = false;      // Edit1, Edit2
    bool timerRunning = false;        // Timer_n
};

class DirektvoteLogic {
public:
    enum class State { Idle = 0, Running = 1, ResultShown = 2 };

    // What the window does after a click on the action button besides showing the view.
    enum class Effect {
        None,
        ClearQuestionText, // back to idle: the question text field is emptied
        BackToStart,       // the start failed: hide this window and show the start window
    };

    // `now` gives the local date-time of a history record (tests pass a fixed one).
    DirektvoteLogic(Session &session, ServerOperations &server, Dialogs &dialogs,
                    std::function<double()> now = {});

    // FormShow: back to idle, the user ID label filled.
    void formShow();
    // Button1Click: start, end, or "Nächste Umfrage", depending on the state.
    Effect mainButtonClicked(const DirektvoteInput &input);
    // Timer_nTimer: one second of a running poll.
    void timerTick(const DirektvoteInput &input);
    // FormClose: closes the poll on the server and goes back to idle; the window then shows the
    // start window. False when a request is still waiting: the window stays open (see the .cpp).
    bool formClose();
    // Button2Click: the statistics are to show the instant poll history.
    void statisticsClicked();

    const DirektvoteView &view() const { return m_view; }
    State state() const { return m_state; }
    int counter() const { return m_counter; }
    bool umfrageBeendet() const { return m_umfrageBeendet; }
    uint16_t typ() const { return m_typ; }
    // A request of an event is waiting for the server.
    bool busy() const { return m_busy; }
    // The history file of the logged-in user.
    QString historyPath() const;

private:
    void resetToIdle();
    bool start(const DirektvoteInput &input);
    void endStep(const DirektvoteInput &input);
    void showResult(const DirektvoteInput &input);

    Session &m_session;
    ServerOperations &m_server;
    Dialogs &m_dialogs;
    std::function<double()> m_now;
    const TIniDaten &m_ini;
    const TStimmen &m_stimmen;

    DirektvoteView m_view;
    State m_state = State::Idle; // the action button's tag
    int m_counter = 0;           // the timer's tag: seconds left
    bool m_countdown = false;    // this poll counts down instead of showing the votes
    bool m_umfrageBeendet = false;
    uint16_t m_typ = 5; // layout of the poll that was started
    bool m_busy = false;
};

} // namespace kv
