#include "ui/instantpoll/direktvote_logic.h"

#include "core/datetime.h"
#include "core/history.h"
#include "ui/common/reentry_guard.h"

namespace kv {

uint16_t layoutCodeForKind(int item)
{
    static constexpr uint16_t kCodes[5] = {kJaNein, 2, 3, 4, 5};
    return item >= 1 && item <= 5 ? kCodes[item - 1] : 5;
}

DirektvoteLogic::DirektvoteLogic(Session &session, ServerOperations &server, Dialogs &dialogs,
                                 std::function<double()> now)
    : m_session(session), m_server(server), m_dialogs(dialogs),
      m_now(now ? std::move(now) : std::function<double()>(nowValue)), m_ini(session.IniDaten),
      m_stimmen(session.Stimmen)
{}

QString DirektvoteLogic::historyPath() const
{
    return m_session.IniDir + historyFileName(m_session.UserID);
}

void DirektvoteLogic::resetToIdle()
{
    // The user ID label and the session code are kept; everything else shows the idle layout.
    // The question text field and its label are shown again too, also after a close while a poll
    // ran, so that an idle window always looks the same.
    const QString userLabel = m_view.userLabel;
    m_view = DirektvoteView{};
    m_view.userLabel = userLabel;
    m_state = State::Idle;
}

void DirektvoteLogic::formShow()
{
    resetToIdle();
    m_view.userLabel = QStringLiteral("User-ID: ") + m_session.UserID;
}

DirektvoteLogic::Effect DirektvoteLogic::mainButtonClicked(const DirektvoteInput &input)
{
    // A click while a request of this window waits (a start, an end or a tick's fetch) is ignored:
    // requests never overlap, and the click that is running decides.
    ReentryGuard guard(m_busy);
    if (!guard)
        return Effect::None;
    switch (m_state) {
    case State::Idle:
        return start(input) ? Effect::None : Effect::BackToStart;
    case State::Running:
        endStep(input);
        return Effect::None;
    case State::ResultShown:
        resetToIdle();
        return Effect::ClearQuestionText;
    }
    return Effect::None;
}

bool DirektvoteLogic::start(const DirektvoteInput &input)
{
    const uint16_t typ = layoutCodeForKind(input.kindItem);
    if (!m_server.UmfrageStarten(m_session.UserID, m_session.Passwort, input.sessionCode, typ,
                                 isSet(m_ini.EineStimmeProGeraet)))
        return false;
    m_typ = typ;
    m_view.fieldsReadOnly = true;
    m_umfrageBeendet = false;
    m_view.actionCaption = isSet(m_ini.OhneErgebnis)
                               ? QStringLiteral("Umfrage beenden")
                               : QStringLiteral("Umfrage beenden und Ergebnis anzeigen.");
    m_view.closeVisible = false;
    m_state = State::Running;
    m_view.kindVisible = false;
    // Without a countdown the vote count is shown and the lecturer ends the poll with the action
    // button.
    m_countdown = countdownActive(m_ini);
    if (m_countdown) {
        m_counter = m_ini.CountdownZeit;
        m_view.statusText = countdownText(m_counter);
    } else {
        m_counter = 0;
        m_view.statusText = votesCastText(0);
    }
    m_view.questionLabel = input.questionText;
    m_view.statusVisible = true;
    m_view.runningVisible = true;
    m_view.questionLabelVisible = true;
    m_view.questionFieldVisible = false;
    m_view.timerRunning = true;
    return true;
}

void DirektvoteLogic::timerTick(const DirektvoteInput &input)
{
    // A tick that comes while a request waits is skipped; the next one counts again.
    ReentryGuard guard(m_busy);
    if (!guard || m_state != State::Running || !m_view.timerRunning)
        return;
    if (m_countdown) {
        --m_counter;
        if (m_counter > 0) {
            m_view.statusText = countdownText(m_counter);
        } else {
            m_view.statusText = QStringLiteral("Umfrage geschlossen");
            endStep(input);
        }
        return;
    }
    if (!m_server.ErgebnisHolen(m_session.UserID, false))
        return;
    const uint16_t sum = votesCast(m_stimmen, answerCount(m_typ));
    // The poll may have been ended while the fetch waited (a close of the window, say).
    if (m_state == State::Running && m_view.timerRunning)
        m_view.statusText = votesCastText(sum);
}

void DirektvoteLogic::endStep(const DirektvoteInput &input)
{
    m_view.timerRunning = false;
    if (!m_umfrageBeendet && !m_server.ErgebnisHolen(m_session.UserID, true))
        return; // still running, timer stopped: a further click tries again
    const bool firstEndWithoutResult = isSet(m_ini.OhneErgebnis) && !m_umfrageBeendet;
    if (!firstEndWithoutResult)
        showResult(input);
    else {
        m_view.actionCaption = QStringLiteral("Ergebnis anzeigen");
        m_view.statusText = QStringLiteral("Umfrage beendet");
        m_view.runningVisible = false;
        m_umfrageBeendet = true;
    }
    // The poll is closed on the server at every end click, also when the history could not be
    // written: a failing local disk must not leave the poll open.
    m_server.UmfrageZuruecksetzen(m_session.UserID, m_session.Passwort);
}

void DirektvoteLogic::showResult(const DirektvoteInput &input)
{
    const ChartGeometry chart = chartGeometry(m_typ, m_stimmen, kChartWidth, kChartHeight);
    m_view.chart = chart;
    m_view.resultCaption = chartCaption(chart.total);
    m_view.closeVisible = true;
    m_view.resultVisible = true;
    m_view.actionCaption = QStringLiteral("Nächste Umfrage");
    m_view.kindVisible = true;
    m_view.questionFieldVisible = true;
    m_view.statusVisible = false;
    m_view.runningVisible = false;
    m_view.questionLabelVisible = false;
    m_state = State::ResultShown;
    if (!worthKeeping(m_stimmen))
        return;
    const IoStatus st =
        appendHistory(historyPath(), makeHistoryRecord(m_typ, input.questionText, m_stimmen, m_now()));
    // The chart stays on screen and the caller still closes the poll; the user learns why this
    // result is missing from the history.
    if (!st)
        m_dialogs.message(st.error);
}

bool DirektvoteLogic::formClose()
{
    // A close while a request waits would send a second request on top of it; the window stays
    // open and can be closed once the request has returned.
    ReentryGuard guard(m_busy);
    if (!guard)
        return false;
    m_server.UmfrageZuruecksetzen(m_session.UserID, m_session.Passwort);
    resetToIdle();
    return true;
}

void DirektvoteLogic::statisticsClicked()
{
    m_session.StatistikSofort = true;
}

} // namespace kv
