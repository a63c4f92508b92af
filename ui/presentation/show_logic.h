#pragma once
// The presentation's decisions, without widgets: the presentation state, the stage machine that
// steps a question through its stages (forward, back, jump), the live poll with its timers and
// the storing of its result, the options of the context menu. `TFshow` forwards its clicks, keys
// and timer ticks here, then shows the page this class describes and runs the timers it asks for.

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>

#include "core/recdef.h"
#include "core/records.h"
#include "core/series.h"
#include "net/server_operations.h"
#include "ui/common/dialogs.h"

namespace kv {

// One of the six boxes: the question box `GroupBox1` or an answer box `GroupBox2`..`GroupBox6`,
// with its text label (`Label1`..`Label6`).
struct ShowBox {
    bool visible = false;
    QString caption;
    QString text;
    int fontSize = 12; // points; the question text is bold, the answers regular
    int top = 0;
    int height = 0;
    bool green = false; // marked as a correct answer
};

// A result bar `Image1`..`Image5` and its percentage `Label8`..`Label12`, inside their answer box.
struct ShowBar {
    bool visible = false;
    int left = 0, top = 0, width = 0, height = 0;
    bool percentVisible = false;
    QString percent;
    int percentLeft = 0, percentTop = 0, percentFontSize = 12;
};

// What the window shows: every element's state as the steps leave it. Elements keep their state
// until a step changes it, as controls do.
struct ShowPage {
    std::array<ShowBox, 6> boxes; // index 0: the question box, 1..5: answers A..E
    std::array<ShowBar, 5> bars;  // answers A..E
    bool statusVisible = false;   // `Label13`, in the font of answer A's text
    QString statusText;
    QString caption = QStringLiteral("Weiter"); // of the main button `Button1`
    bool buttonsVisible = false;                // `Button1` and `Button3`
    bool backEnabled = false;                   // the menu item "Zurück"
    QString messageText;                        // `Anzeige` in the message panel `Panel1`
    bool messageVisible = false;
    bool sessionPanelVisible = false; // `Panel2`
};

// The stage values of `Stufe`.
namespace stufe {
constexpr uint16_t kNone = 0;      // before the first question
constexpr uint16_t kQuestion = 10; // 10 + k: the question and its first k answers
constexpr uint16_t kPoll = 20;     // the poll is open, or closed with its result held back
constexpr uint16_t kReveal = 21;   // the result; the correct answers are not yet marked
constexpr uint16_t kResult = 30;   // the result, correct answers marked
constexpr uint16_t kBlank = 40;    // the blank page between questions
} // namespace stufe

class ShowLogic {
public:
    enum class Timer { Poll, Message, Relayout, ButtonDelay }; // Timer_n, AnzeigeTimer, Timer1, weitertimer
    enum class MessageTick { None, PlaceAndShow, Hide };
    enum class RelayoutTick { None, Relayout, FullScreenAndRelayout };

    ShowLogic(Session &session, ServerOperations &server, Dialogs &dialogs);

    // Called when the series ends: the window closes.
    void setCloseWindow(std::function<void()> close) { m_closeWindow = std::move(close); }
    // The clock of stored results (date-time values); tests pass their own.
    void setClock(std::function<double()> now) { m_now = std::move(now); }

    // The size of the window's client area, which every layout follows.
    void setClientSize(int width, int height);

    // Loads the series and steps to its first question. False, after telling the user why, when
    // the file cannot be read or holds no question; nothing is shown then.
    bool PraesentationStarten(const QString &path);

    // The stage machine. Each returns false when it was ignored because another step is still
    // waiting for the server.
    bool Fortschalten();
    bool Zurueckschalten();
    // The Left arrow and Page Up: a back step while "Zurück" is enabled.
    bool backKey();
    // An entry of the jump list: question k from the beginning.
    bool jump(int k);

    // Timer ticks.
    bool Umfragetakt(); // Timer_n, every second of a poll
    MessageTick anzeigeTick();
    // Timer1, with the window's width and its screen's size at the tick. When the window goes
    // full screen, the page is laid out for the screen's size, the size the window gets.
    RelayoutTick relayoutTick(int windowWidth, int screenWidth, int screenHeight);
    // weitertimer: true at the tick that shows the buttons.
    bool weiterTick();

    // Window events.
    void windowShown();
    void windowClosed();
    void sizeChanged();
    void characterKey(); // any key that produces a character: cancels a pending re-layout

    // The context menu.
    void toggleNacheinander();
    void toggleAutoStart();
    void toggleGrosseSchrift();
    void toggleZwischenseiten();
    void toggleButtonsZeigen();
    void sessionCodeMenu();
    void sessionCodeOk(const QString &code);
    // The jump list's captions, question 1 up to the last question (at least one entry).
    QStringList jumpEntries() const;

    // The state.
    uint16_t FrageNr() const { return m_frageNr; }
    uint16_t Stufe() const { return m_stufe; }
    bool ErgebnisAusstehend() const { return m_ergebnisAusstehend; }
    const ShowPage &page() const { return m_page; }
    bool timerRunning(Timer t) const { return m_timers[size_t(t)]; }
    int countdown() const { return m_countdown; }
    bool stepRunning() const { return m_stepRunning; }
    // A stored result that could not be written to the series file yet.
    bool writePending() const { return m_pendingQuestion != 0; }
    int clientWidth() const { return m_cw; }
    int clientHeight() const { return m_ch; }

    // The answer count n of the question on screen (yes/no counts as 2).
    int answerCount() const;

    // The two drawing steps, used by the steps above and by the re-layout.
    void SeiteAufbauen();
    void ErgebnisZeigen();

private:
    void NaechsteFrage();
    void VorigeFrage();
    bool UmfrageBeginnen(bool automatic);
    void UmfrageSchliessen();
    void doForward();
    void doBack();
    void showMessage(const QString &text);
    void showStatus(const QString &text);
    void hideResultElements();
    void hidePage();
    void resetPoll();
    void dropPendingResult();
    // A closed presentation runs no timer.
    void setTimer(Timer t, bool on) { m_timers[size_t(t)] = on && m_open; }
    enum class Stored { Nothing, Stored, HistoryFull, WriteFailed };
    Stored ErgebnisSpeichern();
    bool retryPendingWrite();
    TFrage &current();

    Session &m_session;
    TFragen &m_fragen;
    TIniDaten &m_ini;
    TStimmen &m_stimmen;
    ServerOperations &m_server;
    Dialogs &m_dialogs;
    std::function<void()> m_closeWindow;
    std::function<double()> m_now;

    uint16_t m_frageNr = 0;
    uint16_t m_stufe = 0;
    bool m_ergebnisAusstehend = false;
    ShowPage m_page;
    int m_cw = 1038, m_ch = 588;

    std::array<bool, 4> m_timers{};
    int m_countdown = 0;     // the counter of Timer_n: seconds left
    int m_messageTicks = 0;  // of AnzeigeTimer
    int m_relayoutTicks = 0; // of Timer1
    int m_weiterTicks = 0;   // of weitertimer
    bool m_stepRunning = false;
    bool m_open = false; // from a successful start until the window closes
    // The question and history entry of a result that is in memory but not yet in the file.
    int m_pendingQuestion = 0;
    int m_pendingEntry = 0;
    // The counts the result on screen is drawn from, and the last closed poll of every question:
    // stepping back to the previous question shows its own result, not the last fetch of another.
    std::array<uint16_t, 5> m_resultCounts{};
    std::array<std::array<uint16_t, 5>, TFragen::kSlots + 1> m_lastCounts{};
    std::array<bool, TFragen::kSlots + 1> m_hasLastCounts{};
};

} // namespace kv
