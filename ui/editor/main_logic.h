#pragma once
// The series editor's decisions, without widgets: which question is shown, what the controls hold,
// storing them back, next and previous, the modification state and its three save prompts, new,
// load, save and save as, the question clipboard, present, statistics, the results export and
// the questions in and out of question banks.
// `TFMain` forwards its events here and paints the controls from `controls()` afterwards.

#include <QRect>
#include <QSize>
#include <QString>
#include <array>

#include "core/recdef.h"
#include "core/records.h"
#include "core/series.h"
#include "net/server_operations.h"
#include "ui/common/dialogs.h"

namespace kv {

// What the editor's controls hold: `Memo1`, `Edit1`..`Edit5`, `CheckBox1`..`CheckBox5` and the
// item index of `RadioGroup1` (0..3 = 2..5 answers, 4 = yes/no). Line breaks in `memo` are "\n";
// the question text stores them as CR LF.
struct EditorControls {
    QString memo;
    std::array<QString, 5> edits;
    std::array<bool, 5> checks{};
    int layoutIndex = 3;

    bool operator==(const EditorControls &) const = default;
};

constexpr int kMemoMaxLength = 255;   // characters of the question text, a line break counting two
constexpr int kAnswerMaxLength = 220; // characters of an answer
constexpr int kYesNoIndex = 4;        // the item "Ja/Nein" of the layout group

// The item index of the layout group for a stored `Typ`; values no editor writes count as 5.
int layoutIndexForTyp(uint16_t typ);
// The `Typ` stored for an item index.
uint16_t typForLayoutIndex(int index);
// How many answer rows (edit, letter, check box) an item index shows.
int visibleAnswers(int layoutIndex);
// Whether answer edit k (1..5) can be typed into: all visible ones, except A and B of yes/no.
bool answerEditable(int layoutIndex, int k);

// The question text as the memo shows it ("\n" line breaks) and as it is stored (CR LF).
QString memoFromFragetext(const QString &stored);
QString fragetextFromMemo(const QString &memo);
// The memo's text cut so that its stored form holds at most 255 characters.
QString limitMemo(const QString &memo);

// Where the controls sit in the client area; the window has the fixed client size 814 x 492.
constexpr QSize kMainClientSize{814, 492};
struct MainGeometry {
    QRect label1, memo1, radioGroup1, korrektLabel;
    std::array<QRect, 5> letters, edits, checks;
    QRect bitBtn1, bitBtn2, button1, bitBtn3;
};
MainGeometry mainGeometry(QSize client = kMainClientSize);

class MainLogic {
public:
    MainLogic(Session &session, ServerOperations &server, Dialogs &dialogs);

    // The editor's state.
    int AktFrage() const { return m_aktFrage; }
    const QString &AktDatei() const { return m_aktDatei; }
    bool Gespeichert() const { return m_gespeichert; }
    bool Blaettern() const { return m_blaettern; }
    const TFrage &Zwischenablage() const { return m_zwischenablage; }
    const EditorControls &controls() const { return m_controls; }
    // Counts the questions shown, so that the window knows when to give `Memo1` the focus.
    int showCount() const { return m_showCount; }
    // "Kelvora", or "Kelvora - " and the file name once the series has a file.
    QString caption() const;

    // The folder the open dialog starts in: the data folder unless the start window's Ctrl+O
    // pointed it at the program folder.
    QString openFolder() const;
    void setOpenFolder(const QString &folder) { m_openFolder = folder; }

    // The operations on the series.
    void FrageAnzeigen(int n);
    void FrageUebernehmen();
    void NeueSerie();
    // False (after telling the user which file and why) when the file could not be read or created;
    // the series, file name, caption and modification state then stay as they were.
    bool SerieLaden(const QString &path);
    bool SerieSpeichern(const QString &path);

    // The controls' change events, as the lecturer causes them.
    void memoChanged(const QString &text);
    void editChanged(int k, const QString &text);
    void checkBoxClicked(int k, bool checked);
    void layoutClicked(int index); // RadioGroup1Click

    // Next (BitBtn2, Page Down) and previous (BitBtn1, Page Up).
    void nextClicked();
    void previousClicked();

    // The file menu. New and Load return false when they stopped before doing their work.
    enum class SaveResult { Saved, Cancelled, Failed };
    bool newClicked();          // BitBtn9Click
    bool loadClicked();         // BitBtn6Click
    SaveResult saveClicked();   // BitBtn7Click
    SaveResult saveAsClicked(); // BitBtn8Click
    // The results export with its target dialog (XMLExportderResultatefrExcel1Click).
    void exportClicked();
    // "Fragen importieren ...": a question bank's questions after the last question of the series;
    // what does not fit into 100 questions is left out. The series is then changed, not saved, and
    // the converter's summary is shown (Fragenimportieren1Click).
    void importQuestionsClicked();
    // "Fragen exportieren ...": the questions (no results) as Moodle XML or GIFT, by the name the
    // save dialog gives, with the converter's summary (Fragenexportieren1Click).
    void exportQuestionsClicked();
    // The window is about to close: true when it may (after the save prompt).
    bool closing();
    // The show step: a new series, or the start file, which is consumed.
    void showStep();

    // "Präsentieren": the file to present after saving it, or empty when there is nothing to do.
    QString presentClicked();
    // "Antwort Statistik": true when the statistics window is to be shown; `StatistikFrage` and
    // `StatistikSofort` are set for it.
    bool statisticsClicked();

    // The question clipboard.
    void copyClicked();        // kopieren1Click
    void cutClicked();         // ausschneiden1Click
    void pasteClicked();       // einfgen1Click
    void insertEmptyClicked(); // BitBtn4Click

private:
    enum class Prompt { New, Load, Close };
    bool savePrompt(Prompt before);
    void markChanged();
    void makeRoomAt(int slot);
    void applyLayout(int index);
    void reportIo(const QString &what, const QString &path, const QString &why);
    // A save dialog in the data folder that asks before an existing file is overwritten; the
    // name chosen, or empty when cancelled.
    QString chooseTarget(const QString &filter, const QString &suffix);

    Session &m_session;
    TFragen &m_fragen;                           // the session's series
    [[maybe_unused]] ServerOperations &m_server; // the editor sends no request of its own
    Dialogs &m_dialogs;
    EditorControls m_controls;
    int m_aktFrage = 1;
    QString m_aktDatei;
    bool m_gespeichert = true;
    bool m_blaettern = false;
    TFrage m_zwischenablage{}; // all bytes zero at start: its question text is empty
    QString m_openFolder;
    int m_showCount = 0;
};

} // namespace kv
