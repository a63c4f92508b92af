#include "ui/presentation/show_logic.h"

#include <QDir>
#include <memory>

#include "core/datetime.h"
#include "ui/common/live_count.h"
#include "ui/common/reentry_guard.h"
#include "ui/presentation/page_layout.h"
#include "ui/settings/settings_logic.h"

namespace kv {

namespace {

const QString kWeiter = QStringLiteral("Weiter");
const QString kUmfrageStarten = QStringLiteral("Umfrage starten");
const QString kErgebnisAnzeigen = QStringLiteral("Ergebnis anzeigen");

bool anyCorrect(const TFrage &f)
{
    for (int k = 1; k <= 5; ++k)
        if (f.korrekt(k))
            return true;
    return false;
}

const char *const kAnswerCaptions[5] = {
    "Antwort A: ", "Antwort B: ", "Antwort C: ", "Antwort D: ", "Antwort E: "};

} // namespace

ShowLogic::ShowLogic(Session &session, ServerOperations &server, Dialogs &dialogs)
    : m_session(session), m_fragen(session.Fragen), m_ini(session.IniDaten), m_stimmen(session.Stimmen),
      m_server(server), m_dialogs(dialogs), m_now(nowValue)
{
    for (int b = 1; b < 6; ++b)
        m_page.boxes[size_t(b)].caption = QStringLiteral(" Antwort ");
}

void ShowLogic::setClientSize(int width, int height)
{
    m_cw = width;
    m_ch = height;
}

TFrage &ShowLogic::current()
{
    return m_fragen[std::clamp<int>(m_frageNr, 1, TFragen::kSlots)];
}

int ShowLogic::answerCount() const
{
    if (m_frageNr < 1 || m_frageNr > TFragen::kSlots)
        return 0;
    return m_fragen[m_frageNr].answers();
}

// ---------------------------------------------------------------------------------------------
// Starting a presentation

bool ShowLogic::PraesentationStarten(const QString &path)
{
    // Only possible when the window was closed while a step still waits for the server.
    ReentryGuard guard(m_stepRunning);
    if (!guard) {
        m_dialogs.message(QStringLiteral("Die vorige Präsentation wartet noch auf den Server. Bitte "
                                         "versuchen Sie es in einigen Sekunden noch einmal."));
        return false;
    }
    m_page.statusVisible = false;

    // The series is read into a copy first: a file that cannot be presented leaves the series in
    // memory as it was (the editor shares it).
    auto fresh = std::make_unique<TFragen>();
    const QString shownPath = QDir::toNativeSeparators(path);
    if (IoStatus st = loadSeriesForPresentation(*fresh, path); !st) {
        m_dialogs.message(
            QStringLiteral("Die Datei „%1“ kann nicht geöffnet werden: %2").arg(shownPath, st.error));
        return false;
    }
    // An empty file, a few stray bytes or a file of another kind holds no question that could be
    // shown: the first record must have a question text and one of the answer layouts 2..5 or 9.
    const TFrage &first = (*fresh)[1];
    if (first.isEmpty() || validTyp(first.Typ) != first.Typ) {
        m_dialogs.message(
            QStringLiteral("Die Datei „%1“ enthält keine Fragen und kann nicht präsentiert werden.")
                .arg(shownPath));
        return false;
    }
    m_fragen = *fresh;
    m_open = true;

    // A session code belongs to one presentation: it is cleared before the first poll can start,
    // so that a poll started automatically for the first question does not carry the code of the
    // presentation before.
    m_session.SessionCode.clear();
    m_session.SerienDatei = path;
    m_frageNr = 0;
    m_stufe = stufe::kNone;
    m_pendingQuestion = m_pendingEntry = 0;
    m_hasLastCounts.fill(false);
    m_resultCounts.fill(0);
    setTimer(Timer::Poll, false);
    doForward();
    m_page.buttonsVisible = false;
    if (isSet(m_ini.ButtonsZeigen)) {
        m_weiterTicks = 0;
        setTimer(Timer::ButtonDelay, true);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// The stage machine
//
// A click, key or tick that arrives while a step waits for the server is ignored, not queued: a
// queued click would run a step the lecturer has not seen the outcome of yet (a double click
// would close a poll and skip its result). The lecturer simply clicks again.

bool ShowLogic::Fortschalten()
{
    ReentryGuard guard(m_stepRunning);
    if (!guard)
        return false;
    doForward();
    return true;
}

bool ShowLogic::Zurueckschalten()
{
    ReentryGuard guard(m_stepRunning);
    if (!guard)
        return false;
    doBack();
    return true;
}

bool ShowLogic::backKey()
{
    if (!m_page.backEnabled)
        return false;
    return Zurueckschalten();
}

void ShowLogic::doForward()
{
    m_page.backEnabled = true;
    const int n = answerCount();
    const uint16_t s = m_stufe;
    if (s == stufe::kNone) {
        m_ergebnisAusstehend = false;
        hidePage();
        NaechsteFrage();
    } else if (s >= 10 && s <= 19) {
        if (isSet(m_ini.Nacheinander) && s < 10 + n) {
            ++m_stufe;
            SeiteAufbauen();
            m_page.caption = m_stufe == 10 + n ? kUmfrageStarten : kWeiter;
        } else {
            UmfrageBeginnen(false);
        }
    } else if (s == stufe::kPoll) {
        if (m_ergebnisAusstehend) {
            m_stufe = anyCorrect(current()) ? stufe::kReveal : stufe::kResult;
            ErgebnisZeigen();
            m_page.caption = kWeiter;
            m_ergebnisAusstehend = false;
        } else {
            UmfrageSchliessen();
        }
    } else if (s == stufe::kReveal) {
        for (int k = 1; k <= 5; ++k)
            if (current().korrekt(k))
                m_page.boxes[size_t(k)].green = true;
        m_stufe = stufe::kResult;
    } else if (s == stufe::kResult) {
        if (m_frageNr >= TFragen::kSeriesSlots || m_fragen[m_frageNr + 1].isEmpty()) {
            m_dialogs.message(QStringLiteral("Ende der Präsentation"));
            if (m_closeWindow)
                m_closeWindow();
            return;
        }
        m_page.statusVisible = false;
        hidePage();
        if (isSet(m_ini.Zwischenseiten)) {
            m_page.caption = kWeiter;
            m_stufe = stufe::kBlank;
        } else {
            NaechsteFrage();
        }
    } else if (s == stufe::kBlank) {
        NaechsteFrage();
    }
}

void ShowLogic::doBack()
{
    const int n = answerCount();
    const uint16_t s = m_stufe;
    if (s == stufe::kQuestion) {
        VorigeFrage();
    } else if (s >= 11 && s <= 19) {
        if (!isSet(m_ini.Nacheinander)) {
            VorigeFrage();
        } else {
            --m_stufe;
            for (auto &box : m_page.boxes)
                box.visible = false;
            SeiteAufbauen();
            m_page.caption = kWeiter;
        }
    } else if (s == stufe::kPoll) {
        if (!m_ergebnisAusstehend) {
            setTimer(Timer::Poll, false);
            m_server.UmfrageZuruecksetzen(m_session.UserID, m_session.Passwort);
            if (!m_open)
                return;
            showMessage(QStringLiteral("Umfrage abgebrochen"));
            // An aborted poll stores nothing, also not a result whose write is still pending.
            dropPendingResult();
        } else {
            showMessage(QStringLiteral("Umfrage zurück gesetzt"));
        }
        m_page.messageVisible = true;
        m_stufe = uint16_t(10 + n);
        m_page.caption = kUmfrageStarten;
        SeiteAufbauen();
        m_page.backEnabled = false;
        m_page.statusVisible = false;
        m_ergebnisAusstehend = false;
    } else if (s == stufe::kReveal || s == stufe::kResult) {
        m_ergebnisAusstehend = false;
        showMessage(QStringLiteral("Umfrage zurück gesetzt"));
        m_page.messageVisible = true;
        m_stufe = uint16_t(10 + n);
        m_page.caption = kUmfrageStarten;
        m_page.statusVisible = false;
        SeiteAufbauen();
        hideResultElements();
        m_page.backEnabled = false;
    } else if (s == stufe::kBlank) {
        m_stufe = stufe::kResult;
        SeiteAufbauen();
        ErgebnisZeigen();
        m_page.caption = kWeiter;
        m_page.statusVisible = true;
    }
}

void ShowLogic::NaechsteFrage()
{
    ++m_frageNr;
    const int n = answerCount();
    if (isSet(m_ini.Nacheinander)) {
        m_stufe = stufe::kQuestion;
        m_page.caption = kWeiter;
    } else {
        m_stufe = uint16_t(10 + n);
        m_page.caption = kUmfrageStarten;
    }
    SeiteAufbauen();
    if (isSet(m_ini.AutoStart))
        UmfrageBeginnen(true);
    else
        showStatus(QStringLiteral("ID: ") + m_session.UserID);
}

void ShowLogic::VorigeFrage()
{
    if (m_frageNr <= 1)
        return;
    hidePage();
    --m_frageNr;
    m_stufe = stufe::kResult;
    SeiteAufbauen();
    // The result of the question's own last poll in this presentation, else its last stored
    // result: the last fetch may belong to another question (polled and then stepped back from).
    if (m_hasLastCounts[m_frageNr]) {
        m_resultCounts = m_lastCounts[m_frageNr];
    } else {
        m_resultCounts.fill(0);
        const TFrage &f = current();
        // The counts lie unaligned in the packed record: each is copied by value.
        if (const int r = f.resultCount(); r > 0)
            for (int k = 0; k < 5; ++k)
                m_resultCounts[size_t(k)] = f.ergebnis(r).Anzahl[k];
    }
    ErgebnisZeigen();
    m_page.caption = kWeiter;
    m_page.statusVisible = true;
}

bool ShowLogic::jump(int k)
{
    ReentryGuard guard(m_stepRunning);
    if (!guard)
        return false;
    if (k < 1 || k > std::max(1, m_fragen.countQuestions()))
        return true;
    m_frageNr = uint16_t(k - 1);
    m_server.UmfrageZuruecksetzen(m_session.UserID, m_session.Passwort);
    if (!m_open)
        return true;
    setTimer(Timer::Poll, false);
    m_page.statusVisible = false;
    hidePage();
    // The poll that was open is reset on the server and not stored.
    dropPendingResult();
    m_ergebnisAusstehend = false;
    NaechsteFrage();
    return true;
}

// ---------------------------------------------------------------------------------------------
// The live poll

bool ShowLogic::UmfrageBeginnen(bool automatic)
{
    // A `Typ` outside the known layouts (only in a damaged file) is polled as the five answers it
    // is shown with.
    if (!m_server.UmfrageStarten(m_session.UserID, m_session.Passwort, m_session.SessionCode,
                                 validTyp(current().Typ), isSet(m_ini.EineStimmeProGeraet)))
        return false;
    // Closed while the server was asked: the poll stays open there, and nothing more happens here.
    if (!m_open)
        return false;
    m_stufe = stufe::kPoll;
    if (automatic) {
        m_page.caption = kErgebnisAnzeigen;
    } else {
        m_page.caption = isSet(m_ini.OhneErgebnis) ? kWeiter : kErgebnisAnzeigen;
        showMessage(QStringLiteral("Umfrage läuft - Bitte abstimmen"));
    }
    m_countdown = countdownActive(m_ini) ? m_ini.CountdownZeit : 0;
    showStatus(countdownActive(m_ini) ? countdownText(m_countdown) : votesCastText(0));
    setTimer(Timer::Poll, true);
    return true;
}

bool ShowLogic::Umfragetakt()
{
    // A tick while a step waits for the server is skipped: the countdown pauses for that second
    // and the live count is fetched at the next tick.
    ReentryGuard guard(m_stepRunning);
    if (!guard)
        return false;
    if (!timerRunning(Timer::Poll))
        return true;
    if (countdownActive(m_ini)) {
        --m_countdown;
        if (m_countdown > 1) {
            m_page.statusText = countdownText(m_countdown);
        } else if (m_countdown == 1) {
            m_page.statusText = countdownText(1);
        } else if (m_countdown == 0) {
            m_page.statusText = QStringLiteral("Umfrage geschlossen");
            doForward();
        }
        return true;
    }
    if (m_server.ErgebnisHolen(m_session.UserID, false) && m_open) {
        m_page.statusText = votesCastText(votesCast(m_stimmen, answerCount()));
    }
    return true;
}

void ShowLogic::UmfrageSchliessen()
{
    if (!m_server.ErgebnisHolen(m_session.UserID, true) || !m_open)
        return;
    const Stored stored = ErgebnisSpeichern();
    if (stored == Stored::WriteFailed)
        return; // the poll stays open; the next advance fetches again and retries the write
    std::copy(std::begin(m_stimmen.values), std::end(m_stimmen.values), m_resultCounts.begin());
    m_lastCounts[m_frageNr] = m_resultCounts;
    m_hasLastCounts[m_frageNr] = true;
    setTimer(Timer::Poll, false);
    m_server.UmfrageZuruecksetzen(m_session.UserID, m_session.Passwort);
    m_stufe = anyCorrect(current()) ? stufe::kReveal : stufe::kResult;
    if (isSet(m_ini.OhneErgebnis)) {
        m_stufe = stufe::kPoll;
        m_ergebnisAusstehend = true;
        m_page.caption = kErgebnisAnzeigen;
        showMessage(QStringLiteral("Umfrage geschlossen"));
        if (countdownActive(m_ini) && m_countdown > 0)
            m_page.statusText = QStringLiteral("Umfrage vorzeitig geschlossen");
    } else {
        ErgebnisZeigen();
        m_page.caption = kWeiter;
    }
    if (stored == Stored::HistoryFull)
        showMessage(QStringLiteral("Ergebnis nicht gespeichert: Frage %1 hat schon %2 Ergebnisse")
                        .arg(m_frageNr)
                        .arg(TFrage::kMaxResults));
}

ShowLogic::Stored ShowLogic::ErgebnisSpeichern()
{
    TFrage &f = current();
    const bool retry = m_pendingQuestion == m_frageNr && m_pendingEntry >= 1;
    if (m_stimmen.sum16() < 5) {
        // Fewer than five votes are not stored. A result that was waiting to be written after a
        // failed write and now counts fewer (the poll was reset on the server) is dropped.
        if (retry)
            dropPendingResult();
        return Stored::Nothing;
    }
    int entry = 0;
    if (retry) {
        // The result of this poll is already in the history, only not yet in the file: it is
        // brought up to the counts just fetched, never appended a second time.
        entry = m_pendingEntry;
        TErgebnis &e = f.ergebnis(entry);
        e.Zeitpunkt = m_now();
        for (int k = 0; k < 5; ++k) // unaligned in the packed record: assigned one by one
            e.Anzahl[k] = m_stimmen.values[k];
    } else {
        // The history holds at most 199 results: a further one is shown but not stored.
        if (!f.appendResult(m_now(), m_stimmen.values))
            return Stored::HistoryFull;
        entry = f.resultCount();
    }
    if (IoStatus st = writeBackResults(m_fragen, m_session.SerienDatei); !st) {
        m_pendingQuestion = m_frageNr;
        m_pendingEntry = entry;
        m_dialogs.message(QStringLiteral("Das Ergebnis konnte nicht in der Datei „%1“ gespeichert werden: %2")
                              .arg(QDir::toNativeSeparators(m_session.SerienDatei), st.error));
        return Stored::WriteFailed;
    }
    m_pendingQuestion = m_pendingEntry = 0;
    return Stored::Stored;
}

bool ShowLogic::retryPendingWrite()
{
    if (!writePending())
        return true;
    if (IoStatus st = writeBackResults(m_fragen, m_session.SerienDatei); !st) {
        m_dialogs.message(
            QStringLiteral("Das Ergebnis von Frage %1 konnte nicht in der Datei „%2“ gespeichert werden: %3")
                .arg(m_pendingQuestion)
                .arg(QDir::toNativeSeparators(m_session.SerienDatei), st.error));
        return false;
    }
    m_pendingQuestion = m_pendingEntry = 0;
    return true;
}

void ShowLogic::dropPendingResult()
{
    if (!writePending())
        return;
    // The pending entry is the last used one, so freeing it keeps the used entries a prefix.
    m_fragen[m_pendingQuestion].ergebnis(m_pendingEntry).Zeitpunkt = TErgebnis::kFree;
    m_pendingQuestion = m_pendingEntry = 0;
}

// ---------------------------------------------------------------------------------------------
// Drawing

void ShowLogic::SeiteAufbauen()
{
    for (auto &bar : m_page.bars)
        bar.percentVisible = false;
    const PageGeometry g = pageGeometry(m_cw, m_ch, isSet(m_ini.GrosseSchrift));
    const TFrage &f = current();
    const int n = answerCount();
    int m = 0;
    if (m_stufe >= 10 && m_stufe <= 19)
        m = m_stufe - 9;
    else if (m_stufe == stufe::kPoll || m_stufe == stufe::kResult)
        m = n + 1; // the answer count, not the stored `Typ`: a damaged `Typ` never makes more boxes
    else if (m_stufe == stufe::kBlank)
        m_page.boxes[0].visible = false;
    m = std::min(m, 6);

    ShowBox &q = m_page.boxes[0];
    q.top = 8;
    q.height = g.questionBoxHeight;
    q.fontSize = g.fontSize;
    if (m_stufe != stufe::kBlank) {
        q.caption = QStringLiteral("Frage %1").arg(m_frageNr);
        q.text = f.Fragetext.text();
        q.visible = true;
    }
    if (f.Typ == kJaNein) {
        // The captions of the yes/no boxes stay as they were.
        m = 3;
        m_page.boxes[1].text = QStringLiteral("JA");
        m_page.boxes[2].text = QStringLiteral("NEIN");
        if (m_stufe == 11)
            m_stufe = 12;
    } else {
        for (int b = 2; b <= m; ++b) {
            m_page.boxes[size_t(b - 1)].caption = QLatin1String(kAnswerCaptions[b - 2]);
            m_page.boxes[size_t(b - 1)].text = f.antwort(b - 1).text();
        }
    }
    if (m_stufe > 10) {
        for (int b = 2; b <= m; ++b) {
            ShowBox &box = m_page.boxes[size_t(b - 1)];
            box.green = false;
            box.visible = true;
            box.top = g.answerTop(b - 1);
            box.height = g.answerBoxHeight;
            box.fontSize = g.fontSize;
        }
    }
}

void ShowLogic::ErgebnisZeigen()
{
    const int n = answerCount();
    const ResultGeometry g = resultGeometry(m_cw, m_ch, m_resultCounts, n);
    for (int k = 0; k < g.answers; ++k) {
        ShowBar &bar = m_page.bars[size_t(k)];
        const QRect r = g.bars[size_t(k)];
        bar.visible = true;
        bar.left = r.left();
        bar.top = r.top();
        bar.width = r.width();
        bar.height = r.height();
        bar.percent = percentText(m_resultCounts[size_t(k)], g.total);
        bar.percentFontSize = g.percentFontSize;
        bar.percentTop = g.percentTop;
        bar.percentLeft = g.percentLeft[size_t(k)];
        bar.percentVisible = true;
    }
    showStatus(votesCastText(g.total));
}

void ShowLogic::showStatus(const QString &text)
{
    m_page.statusText = text;
    m_page.statusVisible = true;
}

void ShowLogic::hideResultElements()
{
    for (auto &bar : m_page.bars) {
        bar.visible = false;
        bar.percentVisible = false;
    }
}

void ShowLogic::hidePage()
{
    hideResultElements();
    for (auto &box : m_page.boxes)
        box.visible = false;
}

// ---------------------------------------------------------------------------------------------
// The message panel and the other timers

void ShowLogic::showMessage(const QString &text)
{
    // A second message while the panel is up replaces the text; the panel goes at the first
    // message's time.
    m_page.messageText = text;
    if (!timerRunning(Timer::Message)) {
        m_messageTicks = 0;
        setTimer(Timer::Message, true);
    }
}

ShowLogic::MessageTick ShowLogic::anzeigeTick()
{
    if (!timerRunning(Timer::Message))
        return MessageTick::None;
    ++m_messageTicks;
    if (m_messageTicks == 1) {
        m_page.messageVisible = true;
        return MessageTick::PlaceAndShow;
    }
    if (m_messageTicks >= 25) {
        m_page.messageVisible = false;
        setTimer(Timer::Message, false);
        m_messageTicks = 0;
        return MessageTick::Hide;
    }
    return MessageTick::None;
}

void ShowLogic::sizeChanged()
{
    if (!timerRunning(Timer::Relayout))
        setTimer(Timer::Relayout, true);
}

void ShowLogic::characterKey()
{
    setTimer(Timer::Relayout, false);
    m_relayoutTicks = 0;
}

ShowLogic::RelayoutTick ShowLogic::relayoutTick(int windowWidth, int screenWidth, int screenHeight)
{
    // While a step waits for the server the page is in the middle of changing: the re-layout
    // waits for the next tick after the step.
    if (!timerRunning(Timer::Relayout) || m_stepRunning)
        return RelayoutTick::None;
    if (++m_relayoutTicks < 6)
        return RelayoutTick::None;
    setTimer(Timer::Relayout, false);
    m_relayoutTicks = 0;
    const bool full = fillsScreenWidth(windowWidth, screenWidth);
    if (full) {
        setClientSize(screenWidth, screenHeight);
        m_page.buttonsVisible = false;
        if (isSet(m_ini.ButtonsZeigen)) {
            m_weiterTicks = 0;
            setTimer(Timer::ButtonDelay, true);
        }
    }
    if (m_stufe > 0 && m_stufe < stufe::kBlank)
        SeiteAufbauen();
    if (m_stufe == stufe::kResult)
        ErgebnisZeigen();
    return full ? RelayoutTick::FullScreenAndRelayout : RelayoutTick::Relayout;
}

bool ShowLogic::weiterTick()
{
    if (!timerRunning(Timer::ButtonDelay))
        return false;
    if (++m_weiterTicks < 11)
        return false;
    setTimer(Timer::ButtonDelay, false);
    m_weiterTicks = 0;
    m_page.buttonsVisible = true;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Window events and the context menu

void ShowLogic::windowShown()
{
    m_session.SessionCode.clear();
}

void ShowLogic::windowClosed()
{
    // The poll stays open on the server. Every timer stops, and a step still waiting for the
    // server when it returns does nothing more: nothing of this presentation runs afterwards.
    m_open = false;
    m_timers.fill(false);
    m_messageTicks = m_relayoutTicks = m_weiterTicks = 0;
    m_page.messageVisible = false;
    // A result whose write failed gets one more try before the series is given up.
    retryPendingWrite();
}

void ShowLogic::toggleNacheinander()
{
    StartOptions o{isSet(m_ini.Nacheinander), isSet(m_ini.AutoStart)};
    o.setNacheinander(!isSet(m_ini.Nacheinander));
    o.writeTo(m_ini);
}

void ShowLogic::toggleAutoStart()
{
    StartOptions o{isSet(m_ini.Nacheinander), isSet(m_ini.AutoStart)};
    o.setAutoStart(!isSet(m_ini.AutoStart));
    o.writeTo(m_ini);
}

void ShowLogic::toggleGrosseSchrift()
{
    m_ini.GrosseSchrift = boolByte(!isSet(m_ini.GrosseSchrift));
    // Laid out as after a size change: the result page keeps its bars and percentages, and the
    // blank page stays blank.
    if (m_stufe > 0 && m_stufe < stufe::kBlank)
        SeiteAufbauen();
    if (m_stufe == stufe::kResult)
        ErgebnisZeigen();
}

void ShowLogic::toggleZwischenseiten()
{
    m_ini.Zwischenseiten = boolByte(!isSet(m_ini.Zwischenseiten));
}

void ShowLogic::toggleButtonsZeigen()
{
    const bool on = !isSet(m_ini.ButtonsZeigen);
    m_ini.ButtonsZeigen = boolByte(on);
    m_page.buttonsVisible = on;
    // A pending button delay must not bring back buttons just switched off.
    if (!on) {
        setTimer(Timer::ButtonDelay, false);
        m_weiterTicks = 0;
    }
}

void ShowLogic::sessionCodeMenu()
{
    m_page.sessionPanelVisible = true;
}

void ShowLogic::sessionCodeOk(const QString &code)
{
    m_page.sessionPanelVisible = false;
    m_session.SessionCode = code;
}

QStringList ShowLogic::jumpEntries() const
{
    int q = 1;
    while (q < TFragen::kSeriesSlots && !m_fragen[q + 1].isEmpty())
        ++q;
    QStringList entries;
    for (int k = 1; k <= q; ++k)
        entries << m_fragen[k].Fragetext.text();
    return entries;
}

} // namespace kv
