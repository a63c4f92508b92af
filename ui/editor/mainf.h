#pragma once
// The series editor: one question at a time with its answer layout, answers and correct-answer
// flags, paging through up to 100 questions, the file menu, the question clipboard, the results
// export, and the way to the presentation and the answer statistics. Its decisions live in
// `MainLogic`; the window owns the controls, forwards events and paints what the logic holds.
// Each showing starts from a new series, or from the series file named on the command line.

#include <QMainWindow>
#include <array>

#include "ui/common/first_showing.h"
#include "ui/common/window_services.h"
#include "ui/editor/main_logic.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kv {

class TFshow;
class TFStatistik;

class TFMain : public ControlsOnFirstShowing<QMainWindow> {
    Q_OBJECT
public:
    explicit TFMain(WindowServices services, QWidget *parent = nullptr);
    ~TFMain() override;

    // The folder the editor's open dialog starts in (the data folder unless Ctrl+O changed it).
    void setOpenFolder(const QString &folder) { m_logic.setOpenFolder(folder); }
    QString openFolder() const { return m_logic.openFolder(); }
    QString aktDatei() const { return m_logic.AktDatei(); }
    const MainLogic &logic() const { return m_logic; }

    // The handlers, as a click or a menu entry runs them.
    void BitBtn1Click(); // previous question (Page Up)
    void BitBtn2Click(); // next question (Page Down)
    void BitBtn3Click(); // "Präsentieren"
    void Button1Click(); // "Antwort Statistik"
    void BitBtn4Click(); // "&Leere Frage einfügen"
    void BitBtn6Click(); // "&Laden"
    void BitBtn7Click(); // "&Speichern"
    void BitBtn8Click(); // "Speichern &unter ..."
    void BitBtn9Click(); // "&Neu"
    void kopieren1Click();
    void ausschneiden1Click();
    void einfgen1Click();
    void XMLExportderResultatefrExcel1Click();
    void Fragenimportieren1Click(); // "Fragen &importieren ..."
    void Fragenexportieren1Click(); // "Fragen e&xportieren ..."

protected:
    void makeControls() override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildMenu();
    // Shows what the logic holds; the controls' change events are not forwarded meanwhile.
    void paint();
    void Memo1Change();

    WindowServices m_services;
    MainLogic m_logic;
    bool m_painting = false;
    bool m_presenting = false;
    int m_shownCount = -1;

    // Made on the first showing.
    QLabel *Label1 = nullptr;
    QPlainTextEdit *Memo1 = nullptr;
    QGroupBox *RadioGroup1 = nullptr;
    QButtonGroup *m_layoutButtons = nullptr;
    QLabel *m_korrektLabel = nullptr;
    std::array<QLabel *, 5> m_letters{};
    std::array<QLineEdit *, 5> m_edits{};
    std::array<QCheckBox *, 5> m_checks{};
    QPushButton *BitBtn1 = nullptr, *BitBtn2 = nullptr, *BitBtn3 = nullptr, *Button1 = nullptr;
    QAction *m_previousAction = nullptr;
    QAction *m_nextAction = nullptr;
};

} // namespace kv
