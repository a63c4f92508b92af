#include "ui/editor/main_logic.h"

#include <QDir>
#include <QFileInfo>
#include <memory>

#include "core/bank_files.h"
#include "core/data_files.h"
#include "core/recdef.h"
#include "ui/editor/export.h"

namespace kv {

namespace {

const QString kExportFilter = QStringLiteral("XML-Datei (*.xml)");
const QString kBankFilter = QStringLiteral("Fragensammlung (*.gift *.txt *.xml);;Alle Dateien (*)");
// The suffix of a bare name follows the type chosen, and the name decides the format.
const QString kBankExportFilter = QStringLiteral("Moodle XML (*.xml);;GIFT (*.gift *.txt)");
// A message box fits on the screen with this many notes on questions; kelvora-convert lists all.
constexpr int kSummaryLines = 15;
const QString kOverwrite = QStringLiteral("Die Datei existiert bereits. Überschreiben?");
const QString kMustSave = QStringLiteral("Sie müssen die Date erst speichern.");
const QString kJa = QStringLiteral("JA");
const QString kNein = QStringLiteral("NEIN");

QString shownPath(const QString &path)
{
    return QStringLiteral("„") + QDir::toNativeSeparators(path) + QStringLiteral("“");
}

} // namespace

int layoutIndexForTyp(uint16_t typ)
{
    const uint16_t t = validTyp(typ);
    return t == kJaNein ? kYesNoIndex : t - 2;
}

uint16_t typForLayoutIndex(int index)
{
    return index == kYesNoIndex ? kJaNein : uint16_t(index + 2);
}

int visibleAnswers(int layoutIndex)
{
    return layoutIndex == kYesNoIndex ? 2 : layoutIndex + 2;
}

bool answerEditable(int layoutIndex, int k)
{
    if (k > visibleAnswers(layoutIndex))
        return false;
    return layoutIndex != kYesNoIndex;
}

QString memoFromFragetext(const QString &stored)
{
    QString s = stored;
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return s;
}

QString fragetextFromMemo(const QString &memo)
{
    QString s = memo;
    s.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return s;
}

QString limitMemo(const QString &memo)
{
    // The question text stores line breaks as CR LF, so a line break takes two of the 255 places.
    // A line break that no longer fits whole is dropped.
    int stored = 0;
    int keep = 0;
    while (keep < memo.size()) {
        const int need = memo[keep] == QLatin1Char('\n') ? 2 : 1;
        if (stored + need > kMemoMaxLength)
            break;
        stored += need;
        ++keep;
    }
    return memo.left(keep);
}

MainGeometry mainGeometry(QSize client)
{
    // Fixed margins; the text controls take the width that is left.
    constexpr int margin = 16;
    constexpr int rowTop = 240;
    constexpr int rowStep = 38;
    constexpr int rowHeight = 30;
    constexpr int checkColumn = 74;
    const int w = client.width();
    const int h = client.height();
    const int right = w - margin;

    MainGeometry g;
    g.label1 = QRect(margin, 10, 300, 26);
    g.memo1 = QRect(margin, 40, w - 2 * margin, 104);
    g.radioGroup1 = QRect(margin, 152, w - 2 * margin, 58);
    g.korrektLabel = QRect(right - checkColumn, 214, checkColumn, 22);
    for (int i = 0; i < 5; ++i) {
        const int y = rowTop + i * rowStep;
        g.letters[size_t(i)] = QRect(margin, y, 24, rowHeight);
        g.edits[size_t(i)] = QRect(margin + 28, y, right - checkColumn - 12 - (margin + 28), rowHeight);
        g.checks[size_t(i)] = QRect(right - checkColumn / 2 - 10, y, 22, rowHeight);
    }
    const int buttonTop = h - margin - 36;
    g.bitBtn1 = QRect(margin, buttonTop, 48, 36);
    g.bitBtn2 = QRect(margin + 56, buttonTop, 48, 36);
    g.bitBtn3 = QRect(right - 158, buttonTop, 158, 36);
    g.button1 = QRect(g.bitBtn3.left() - 8 - 178, buttonTop, 178, 36);
    return g;
}

MainLogic::MainLogic(Session &session, ServerOperations &server, Dialogs &dialogs)
    : m_session(session), m_fragen(session.Fragen), m_server(server), m_dialogs(dialogs)
{}

QString MainLogic::caption() const
{
    if (m_aktDatei.isEmpty())
        return QStringLiteral("Kelvora");
    return QStringLiteral("Kelvora - ") + QFileInfo(m_aktDatei).fileName();
}

QString MainLogic::openFolder() const
{
    return m_openFolder.isEmpty() ? m_session.DataDir : m_openFolder;
}

void MainLogic::markChanged()
{
    if (!m_blaettern)
        m_gespeichert = false;
}

void MainLogic::applyLayout(int index)
{
    m_controls.layoutIndex = index;
    if (index == kYesNoIndex) {
        m_controls.edits[0] = kJa;
        m_controls.edits[1] = kNein;
    }
}

void MainLogic::FrageAnzeigen(int n)
{
    const TFrage &f = m_fragen[n];
    EditorControls c;
    c.memo = memoFromFragetext(f.Fragetext.text());
    for (int k = 1; k <= 5; ++k) {
        c.edits[size_t(k - 1)] = f.antwort(k).text();
        c.checks[size_t(k - 1)] = f.korrekt(k);
    }
    c.layoutIndex = layoutIndexForTyp(f.Typ);
    // A yes/no question always shows "JA" and "NEIN" in A and B, as the layout group puts them.
    if (c.layoutIndex == kYesNoIndex) {
        c.edits[0] = kJa;
        c.edits[1] = kNein;
    }
    const bool changed = !(c == m_controls);
    m_controls = c;
    m_aktFrage = n;
    ++m_showCount;
    // The controls' change events mark the series unless the lecturer is only paging.
    if (changed)
        markChanged();
}

void MainLogic::FrageUebernehmen()
{
    TFrage &f = m_fragen[m_aktFrage];
    // setText keeps the first 255 and 220 bytes of the stored texts.
    f.Fragetext.setText(fragetextFromMemo(m_controls.memo));
    for (int k = 1; k <= 5; ++k) {
        f.antwort(k).setText(m_controls.edits[size_t(k - 1)]);
        f.setKorrekt(k, m_controls.checks[size_t(k - 1)]);
    }
    f.Typ = typForLayoutIndex(m_controls.layoutIndex);
}

void MainLogic::NeueSerie()
{
    m_fragen.makeNew();
    FrageAnzeigen(1);
    m_aktDatei.clear();
    m_gespeichert = true;
}

void MainLogic::reportIo(const QString &what, const QString &path, const QString &why)
{
    m_dialogs.message(what.arg(shownPath(path), why));
}

bool MainLogic::SerieLaden(const QString &path)
{
    if (!QFileInfo::exists(path)) {
        // A name that does not exist starts a new series under that name. The blank file is
        // written first, so that a failure keeps the series that is open.
        auto blank = std::make_unique<TFragen>();
        if (IoStatus st = saveSeries(*blank, path); !st) {
            reportIo(QStringLiteral("Die neue Serie %1 konnte nicht angelegt werden.\n%2\n"
                                    "Bitte wählen Sie einen Ordner, in dem Sie Dateien anlegen dürfen."),
                     path, st.error);
            return false;
        }
        NeueSerie();
    } else {
        // The load reads into a copy: on failure the open series stays as it was.
        if (IoStatus st = loadSeriesForEditor(m_fragen, path); !st) {
            reportIo(QStringLiteral("Die Serie %1 konnte nicht geladen werden.\n%2\n"
                                    "Die bisher geöffnete Serie bleibt unverändert."),
                     path, st.error);
            return false;
        }
        FrageAnzeigen(1);
    }
    m_aktDatei = path;
    m_gespeichert = true;
    return true;
}

bool MainLogic::SerieSpeichern(const QString &path)
{
    FrageUebernehmen();
    // Replaced safely: a failure part-way keeps the file as it was.
    if (IoStatus st = saveSeries(m_fragen, path); !st) {
        reportIo(QStringLiteral("Die Serie konnte nicht in %1 gespeichert werden.\n%2\n"
                                "Die Datei ist unverändert. Bitte speichern Sie die Serie unter einem "
                                "anderen Namen oder in einem anderen Ordner."),
                 path, st.error);
        return false;
    }
    m_aktDatei = path;
    m_gespeichert = true;
    return true;
}

void MainLogic::memoChanged(const QString &text)
{
    m_controls.memo = limitMemo(text);
    markChanged();
}

void MainLogic::editChanged(int k, const QString &text)
{
    m_controls.edits[size_t(k - 1)] = text.left(kAnswerMaxLength);
    markChanged();
}

void MainLogic::checkBoxClicked(int k, bool checked)
{
    m_controls.checks[size_t(k - 1)] = checked;
    markChanged();
}

void MainLogic::layoutClicked(int index)
{
    if (index < 0 || index > kYesNoIndex || index == m_controls.layoutIndex)
        return;
    applyLayout(index);
    markChanged();
}

void MainLogic::nextClicked()
{
    m_blaettern = true;
    // No moving on past a question that has neither a text nor an answer A.
    const bool empty = m_controls.memo.isEmpty() && m_controls.edits[0].isEmpty();
    if (!empty && m_aktFrage < TFragen::kSeriesSlots) {
        FrageUebernehmen();
        FrageAnzeigen(m_aktFrage + 1);
    }
    m_blaettern = false;
}

void MainLogic::previousClicked()
{
    m_blaettern = true;
    if (m_aktFrage > 1) {
        FrageUebernehmen();
        FrageAnzeigen(m_aktFrage - 1);
    }
    m_blaettern = false;
}

bool MainLogic::savePrompt(Prompt before)
{
    if (m_gespeichert)
        return true;
    static const QString prefix = QStringLiteral("Die aktuelle Frageserie wurde verändert. ");
    QString text;
    switch (before) {
    case Prompt::New:
        text = prefix + QStringLiteral("Vor dem Erstellen einer neuen Serie speichern?");
        break;
    case Prompt::Load:
        text = prefix + QStringLiteral("Vor dem Öffnen einer anderen Serie speichern?");
        break;
    case Prompt::Close:
        text = prefix + QStringLiteral("Vor dem Schließen speichern?");
        break;
    }
    if (m_dialogs.confirm(text, Buttons::YesNo) != Answer::Yes)
        return true;
    // A cancelled save dialog lets the operation go on. A save that failed does not: the lecturer
    // has just been told why, and going on would throw the changes away.
    return saveClicked() != SaveResult::Failed;
}

bool MainLogic::closing()
{
    return savePrompt(Prompt::Close);
}

bool MainLogic::newClicked()
{
    if (!savePrompt(Prompt::New))
        return false;
    NeueSerie();
    return true;
}

bool MainLogic::loadClicked()
{
    if (!savePrompt(Prompt::Load))
        return false;
    // The file need not exist: a new name starts a new series under that name.
    const QString path = m_dialogs.openFile(seriesFileFilter(), openFolder(), false);
    if (path.isEmpty())
        return false;
    return SerieLaden(path);
}

MainLogic::SaveResult MainLogic::saveClicked()
{
    if (m_aktDatei.isEmpty())
        return saveAsClicked();
    return SerieSpeichern(m_aktDatei) ? SaveResult::Saved : SaveResult::Failed;
}

MainLogic::SaveResult MainLogic::saveAsClicked()
{
    for (;;) {
        const QString path = m_dialogs.saveFile(seriesFileFilter(), QStringLiteral("kvf"), m_session.DataDir);
        if (path.isEmpty())
            return SaveResult::Cancelled;
        if (QFileInfo::exists(path) && m_dialogs.confirm(kOverwrite, Buttons::YesCancel) != Answer::Yes)
            continue;
        return SerieSpeichern(path) ? SaveResult::Saved : SaveResult::Failed;
    }
}

QString MainLogic::chooseTarget(const QString &filter, const QString &suffix)
{
    for (;;) {
        const QString path = m_dialogs.saveFile(filter, suffix, m_session.DataDir);
        if (path.isEmpty() || !QFileInfo::exists(path)
            || m_dialogs.confirm(kOverwrite, Buttons::YesCancel) == Answer::Yes)
            return path;
    }
}

void MainLogic::exportClicked()
{
    const QString path = chooseTarget(kExportFilter, QStringLiteral("xml"));
    if (path.isEmpty())
        return;
    const QString header = dataFilePath(QStringLiteral("xmlheader.txt"));
    const ExportResult r = exportResults(m_fragen, header, path);
    switch (r.outcome) {
    case ExportResult::Outcome::Written:
    case ExportResult::Outcome::NoQuestions: // a series without questions exports nothing
        break;
    case ExportResult::Outcome::HeaderUnreadable:
        reportIo(
            QStringLiteral("Die Vorlage %1 fehlt oder kann nicht gelesen werden.\n%2\n"
                           "Der Export wurde nicht geschrieben; bitte installieren Sie das Programm neu."),
            header, r.error);
        break;
    case ExportResult::Outcome::WriteFailed:
        reportIo(QStringLiteral("Der Export konnte nicht in %1 geschrieben werden.\n%2\n"
                                "Eine vorhandene Datei ist unverändert."),
                 path, r.error);
        break;
    }
}

void MainLogic::importQuestionsClicked()
{
    const QString path = m_dialogs.openFile(kBankFilter, m_session.DataDir, true);
    if (path.isEmpty())
        return;
    bank::FileConversion read = bank::readBankFile(path);
    if (!read.ok()) {
        m_dialogs.message(read.error + QStringLiteral("\nDie Serie ist unverändert."));
        return;
    }
    // What the lecturer typed is part of the series the new questions follow.
    FrageUebernehmen();
    const int last = m_fragen.countQuestions();
    bank::Conversion &c = read.conversion;
    bank::keepOnly(c, TFragen::kSeriesSlots - last);
    for (size_t k = 0; k < c.entries.size(); ++k)
        m_fragen[last + 1 + int(k)] = c.entries[k].frage;
    if (!c.entries.empty()) {
        // The slot after the new questions ends the series, whatever it held before.
        if (const int end = last + int(c.entries.size()); end < TFragen::kSeriesSlots)
            m_fragen[end + 1].makeBlank();
        FrageAnzeigen(last + 1);
        m_gespeichert = false;
    }
    m_dialogs.message(c.report.summary(kSummaryLines));
}

void MainLogic::exportQuestionsClicked()
{
    FrageUebernehmen();
    if (m_fragen.countQuestions() == 0) {
        m_dialogs.message(QStringLiteral("Die Serie enthält keine Fragen, die exportiert werden könnten."));
        return;
    }
    const QString path = chooseTarget(kBankExportFilter, QStringLiteral("xml"));
    if (path.isEmpty())
        return;
    bank::Report report;
    if (IoStatus st = bank::writeBankFile(m_fragen, path, report); !st) {
        reportIo(QStringLiteral("Die Fragen konnten nicht in %1 exportiert werden.\n%2\n"
                                "Eine vorhandene Datei ist unverändert."),
                 path, st.error);
        return;
    }
    m_dialogs.message(report.summary(kSummaryLines));
}

void MainLogic::showStep()
{
    NeueSerie();
    if (!m_session.StartFile.isEmpty())
        SerieLaden(m_session.StartFile);
    m_session.StartFile.clear();
}

QString MainLogic::presentClicked()
{
    if (m_aktDatei.isEmpty()) {
        m_dialogs.message(kMustSave);
        return {};
    }
    // What is presented is the file: when it cannot be saved, the lecturer has been told and the
    // presentation of an older state does not start.
    if (!SerieSpeichern(m_aktDatei))
        return {};
    return m_aktDatei;
}

bool MainLogic::statisticsClicked()
{
    if (m_aktDatei.isEmpty())
        return false;
    m_session.StatistikFrage = m_aktFrage;
    m_session.StatistikSofort = false;
    return true;
}

void MainLogic::makeRoomAt(int slot)
{
    // From the top down; the question in slot 100 is lost. At slot 100 nothing moves.
    for (int k = TFragen::kSeriesSlots; k > slot; --k)
        m_fragen[k] = m_fragen[k - 1];
}

void MainLogic::copyClicked()
{
    // The clipboard operations first store what the lecturer typed, so that no typing is lost and
    // the clipboard holds the question as it is shown.
    FrageUebernehmen();
    m_zwischenablage = m_fragen[m_aktFrage];
}

void MainLogic::cutClicked()
{
    FrageUebernehmen();
    m_zwischenablage = m_fragen[m_aktFrage];
    // The blank slot 101 moves into slot 100 and stays in 101 too.
    for (int k = m_aktFrage; k <= TFragen::kSeriesSlots; ++k)
        m_fragen[k] = m_fragen[k + 1];
    FrageAnzeigen(m_aktFrage);
    m_gespeichert = false;
}

void MainLogic::insertEmptyClicked()
{
    FrageUebernehmen();
    makeRoomAt(m_aktFrage);
    m_fragen[m_aktFrage] = m_fragen[TFragen::kSlots];
    m_fragen[m_aktFrage].Fragetext.setText(QStringLiteral("Neue Frage"));
    FrageAnzeigen(m_aktFrage);
    // Marked changed even when the controls happened to show the same texts before.
    m_gespeichert = false;
}

void MainLogic::pasteClicked()
{
    if (m_zwischenablage.Fragetext.isEmpty()) {
        insertEmptyClicked();
        return;
    }
    FrageUebernehmen();
    makeRoomAt(m_aktFrage);
    m_fragen[m_aktFrage] = m_zwischenablage;
    FrageAnzeigen(m_aktFrage);
    m_gespeichert = false;
}

} // namespace kv
