// The series editor's decisions without a window: the series in memory, real files in a temporary
// folder, scripted dialogs, and a server that must never be asked (the editor works offline).
#include <QFile>
#include <QFileInfo>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>

#include "core/recdef.h"
#include "core/series.h"
#include "tests/support/fake_server.h"
#include "tests/support/prompts.h"
#include "tests/support/qt_printers.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/shared_state.h"
#include "tests/support/temp_folder.h"
#include "ui/editor/main_logic.h"

using namespace kv;

using kv::test::kOverwrite;
using kv::test::kPromptClose;
using kv::test::kPromptLoad;
using kv::test::kPromptNew;

namespace {

void addResults(TFrage &f, int n)
{
    for (int i = 1; i <= n; ++i) {
        const uint16_t counts[5] = {uint16_t(i), 2, 3, 0, 0};
        ASSERT_TRUE(f.appendResult(46000.0 + i, counts));
    }
}

class MainLogicTest : public ::testing::Test {
protected:
    kv::test::TempFolder dir;
    kv::test::ScriptedDialogs dialogs;
    test::FakeServer server; // the editor sends no request
    std::unique_ptr<MainLogic> logic;

    void SetUp() override
    {
        kv::test::resetSharedState();
        DataDir = dir.path();
        ProgDir = dir.path();
        logic = std::make_unique<MainLogic>(sharedSession(), server, dialogs);
        logic->showStep();
    }
    void TearDown() override
    {
        EXPECT_EQ(server.log, QStringList());
        EXPECT_TRUE(dialogs.unexpected.isEmpty()) << dialogs.unexpected.join(u'\n').toStdString();
        kv::test::resetSharedState();
    }

    // Questions "Frage 1" .. "Frage n" in slots 1..n, each with answer A "a<i>" and i mod 4
    // results, saved as "serie.kvf" and loaded from it.
    QString series(int n)
    {
        auto s = std::make_unique<TFragen>();
        for (int i = 1; i <= n; ++i) {
            (*s)[i].Fragetext.setText(QStringLiteral("Frage %1").arg(i));
            (*s)[i].antwort(1).setText(QStringLiteral("a%1").arg(i));
            addResults((*s)[i], i % 4);
        }
        const QString file = dir.file(QStringLiteral("serie.kvf"));
        EXPECT_TRUE(saveSeries(*s, file));
        EXPECT_TRUE(logic->SerieLaden(file));
        return file;
    }
    QString text(int slot) const { return Fragen[slot].Fragetext.text(); }
    // The question texts of slots 1..n.
    QStringList texts(int n) const
    {
        QStringList l;
        for (int i = 1; i <= n; ++i)
            l << text(i);
        return l;
    }
    void goTo(int n)
    {
        while (logic->AktFrage() < n)
            logic->nextClicked();
        ASSERT_EQ(logic->AktFrage(), n);
    }
};

// The answer layout group: item index, stored Typ, visible rows and which edits take typing.
struct LayoutCase {
    int index;
    uint16_t typ;
    int visible;
    std::array<bool, 5> editable;
};
class LayoutTable : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LayoutTable, IndexTypAndRows)
{
    const LayoutCase c = GetParam();
    EXPECT_EQ(typForLayoutIndex(c.index), c.typ);
    EXPECT_EQ(layoutIndexForTyp(c.typ), c.index);
    EXPECT_EQ(visibleAnswers(c.index), c.visible);
    for (int k = 1; k <= 5; ++k)
        EXPECT_EQ(answerEditable(c.index, k), c.editable[size_t(k - 1)]) << "answer " << k;
}

INSTANTIATE_TEST_SUITE_P(MainLogic, LayoutTable,
                         ::testing::Values(LayoutCase{0, 2, 2, {true, true, false, false, false}},
                                           LayoutCase{1, 3, 3, {true, true, true, false, false}},
                                           LayoutCase{2, 4, 4, {true, true, true, true, false}},
                                           LayoutCase{3, 5, 5, {true, true, true, true, true}},
                                           LayoutCase{4, 9, 2, {false, false, false, false, false}}));

TEST(MainLogicLayout, TypValuesNoEditorWritesShowFiveAnswers)
{
    for (uint16_t typ : {0, 1, 6, 8, 10, 0xFFFF})
        EXPECT_EQ(layoutIndexForTyp(typ), 3) << typ;
}

// The memo counts a line break as the two characters CR LF it is stored as.
struct MemoCase {
    QString typed;
    int keptChars;
};
class MemoLimit : public ::testing::TestWithParam<MemoCase> {};

TEST_P(MemoLimit, StoredFormFitsTheField)
{
    const MemoCase c = GetParam();
    const QString kept = limitMemo(c.typed);
    EXPECT_EQ(kept, c.typed.left(c.keptChars));
    EXPECT_LE(fragetextFromMemo(kept).size(), kMemoMaxLength);
}

INSTANTIATE_TEST_SUITE_P(
    MainLogic, MemoLimit,
    ::testing::Values(MemoCase{QString(255, u'x'), 255}, MemoCase{QString(300, u'x'), 255},
                      MemoCase{QString(253, u'x') + u'\n' + u'y', 254}, // 253 + CR LF = 255: y is cut
                      MemoCase{QString(254, u'x') + u'\n', 254},        // the break does not fit whole
                      MemoCase{QStringLiteral("a\nb"), 3}, MemoCase{QString(), 0}));

TEST_F(MainLogicTest, LineBreaksAreStoredAsCrLfAndShownAsTyped)
{
    logic->memoChanged(QStringLiteral("Zeile 1\nZeile 2"));
    logic->FrageUebernehmen();
    EXPECT_EQ(Fragen[1].Fragetext.bytes(), QByteArray("Zeile 1\r\nZeile 2"));
    logic->FrageAnzeigen(2);
    logic->FrageAnzeigen(1);
    EXPECT_EQ(logic->controls().memo, QStringLiteral("Zeile 1\nZeile 2"));
}

TEST_F(MainLogicTest, StoringCutsTextsToTheFieldsAndKeepsHistoryAndRest)
{
    addResults(Fragen[1], 3);
    std::memset(Fragen[1].Rest, 0x5A, sizeof Fragen[1].Rest);
    logic->memoChanged(QString(300, u'q'));
    logic->editChanged(2, QString(230, u'b'));
    logic->checkBoxClicked(3, true);
    logic->layoutClicked(1);
    EXPECT_EQ(logic->controls().memo.size(), 255);
    EXPECT_EQ(logic->controls().edits[1].size(), 220);
    logic->FrageUebernehmen();
    const TFrage &f = Fragen[1];
    EXPECT_EQ(f.Fragetext.length(), 255);
    EXPECT_EQ(f.antwort(2).bytes(), QByteArray(220, 'b'));
    EXPECT_TRUE(f.korrekt(3));
    EXPECT_FALSE(f.korrekt(1));
    EXPECT_EQ(uint16_t(f.Typ), 3);
    EXPECT_EQ(f.resultCount(), 3);
    EXPECT_EQ(uint16_t(f.ergebnis(2).Anzahl[0]), 2);
    for (uint8_t b : f.Rest)
        EXPECT_EQ(b, 0x5A);
}

TEST_F(MainLogicTest, YesNoFillsAAndBAndIsStoredAsNine)
{
    logic->memoChanged(QStringLiteral("Schon gefrühstückt?"));
    logic->editChanged(1, QStringLiteral("vorher A"));
    logic->layoutClicked(kYesNoIndex);
    EXPECT_FALSE(logic->Gespeichert());
    EXPECT_EQ(logic->controls().edits[0], QStringLiteral("JA"));
    EXPECT_EQ(logic->controls().edits[1], QStringLiteral("NEIN"));
    logic->nextClicked();
    logic->previousClicked();
    EXPECT_EQ(logic->controls().layoutIndex, kYesNoIndex);
    EXPECT_EQ(logic->controls().edits[0], QStringLiteral("JA"));
    EXPECT_EQ(uint16_t(Fragen[1].Typ), kJaNein);
    EXPECT_EQ(Fragen[1].antwort(1).text(), QStringLiteral("JA"));
    EXPECT_EQ(Fragen[1].antwort(2).text(), QStringLiteral("NEIN"));
    // Leaving yes/no keeps the two texts in the edits.
    logic->layoutClicked(2);
    EXPECT_EQ(logic->controls().edits[1], QStringLiteral("NEIN"));
}

TEST_F(MainLogicTest, ChoosingTheLayoutShownAlreadyChangesNothing)
{
    logic->layoutClicked(3);
    EXPECT_TRUE(logic->Gespeichert());
}

TEST_F(MainLogicTest, NextNeedsAQuestionTextOrAnswerA)
{
    logic->nextClicked();
    EXPECT_EQ(logic->AktFrage(), 1);
    logic->editChanged(1, QStringLiteral("nur A"));
    logic->nextClicked();
    EXPECT_EQ(logic->AktFrage(), 2);
    EXPECT_EQ(Fragen[1].antwort(1).text(), QStringLiteral("nur A"));
    logic->memoChanged(QStringLiteral("nur Text"));
    logic->nextClicked();
    EXPECT_EQ(logic->AktFrage(), 3);
}

TEST_F(MainLogicTest, PagingStopsAtOneAndAtHundredAndLeavesTheSeriesUnchanged)
{
    series(100);
    logic->previousClicked();
    EXPECT_EQ(logic->AktFrage(), 1);
    goTo(100);
    EXPECT_EQ(logic->controls().memo, QStringLiteral("Frage 100"));
    logic->nextClicked();
    EXPECT_EQ(logic->AktFrage(), 100);
    logic->previousClicked();
    EXPECT_EQ(logic->AktFrage(), 99);
    EXPECT_TRUE(logic->Gespeichert());
    EXPECT_FALSE(logic->Blaettern());
    EXPECT_EQ(Fragen.countQuestions(), 100);
    EXPECT_TRUE(Fragen[101].isEmpty());
}

// The three save prompts, each answered Yes with a file: the change is saved before the operation.
struct PromptCase {
    const char *name;
    QString text;
    std::function<bool(MainLogic &)> operation;
};
class SavePrompts : public MainLogicTest, public ::testing::WithParamInterface<PromptCase> {};

TEST_P(SavePrompts, YesSavesToTheOpenFileThenGoesOn)
{
    const QString file = dir.file(QStringLiteral("serie.kvf"));
    dialogs.files.push_back(file);
    ASSERT_TRUE(logic->loadClicked());
    logic->memoChanged(QStringLiteral("geändert"));
    dialogs.answers.push_back(Answer::Yes);
    dialogs.files.push_back(dir.file(QStringLiteral("andere.kvf"))); // for Load only
    EXPECT_TRUE(GetParam().operation(*logic));
    EXPECT_EQ(dialogs.shown.value(0), GetParam().text);
    auto saved = std::make_unique<TFragen>();
    ASSERT_TRUE(loadSeriesForEditor(*saved, file));
    EXPECT_EQ((*saved)[1].Fragetext.text(), QStringLiteral("geändert"));
    dialogs.files.clear();
}

TEST_P(SavePrompts, SaveFailingStopsTheOperationSoNothingIsLost)
{
    // The file's folder is gone, so the save cannot be written.
    kv::test::TempFolder gone;
    const QString file = gone.file(QStringLiteral("sub/serie.kvf"));
    logic->memoChanged(QStringLiteral("wichtig"));
    dialogs.answers.push_back(Answer::Yes);
    dialogs.files.push_back(file); // the save-as dialog of the prompt
    EXPECT_FALSE(GetParam().operation(*logic));
    ASSERT_EQ(dialogs.shown.size(), 2);
    EXPECT_EQ(dialogs.shown[0], GetParam().text);
    EXPECT_TRUE(dialogs.shown[1].contains(QStringLiteral("serie.kvf"))) << dialogs.shown[1].toStdString();
    EXPECT_EQ(logic->controls().memo, QStringLiteral("wichtig"));
    EXPECT_FALSE(logic->Gespeichert());
}

TEST_P(SavePrompts, SaveDialogCancelledGoesOnWithoutSaving)
{
    logic->memoChanged(QStringLiteral("weg"));
    dialogs.answers.push_back(Answer::Yes);
    dialogs.files.push_back(QString());                           // save dialog cancelled
    dialogs.files.push_back(dir.file(QStringLiteral("neu.kvf"))); // for Load only
    EXPECT_TRUE(GetParam().operation(*logic));
    EXPECT_EQ(dialogs.shown, QStringList{GetParam().text});
    dialogs.files.clear();
}

INSTANTIATE_TEST_SUITE_P(
    MainLogic, SavePrompts,
    ::testing::Values(PromptCase{"New", kPromptNew, [](MainLogic &l) { return l.newClicked(); }},
                      PromptCase{"Load", kPromptLoad, [](MainLogic &l) { return l.loadClicked(); }},
                      PromptCase{"Close", kPromptClose, [](MainLogic &l) { return l.closing(); }}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(MainLogicTest, LoadingANameThatDoesNotExistCreatesABlankSeriesFile)
{
    series(3);
    const QString file = dir.file(QStringLiteral("neu.kvf"));
    dialogs.files.push_back(file);
    ASSERT_TRUE(logic->loadClicked());
    EXPECT_EQ(QFileInfo(file).size(), 496300);
    auto onDisk = std::make_unique<TFragen>();
    ASSERT_TRUE(loadSeriesForEditor(*onDisk, file));
    for (int s = 1; s <= 100; ++s) {
        EXPECT_TRUE((*onDisk)[s].isEmpty());
        EXPECT_EQ(uint16_t((*onDisk)[s].Typ), 5);
        EXPECT_EQ((*onDisk)[s].resultCount(), 0);
    }
    EXPECT_EQ(Fragen.countQuestions(), 0);
    EXPECT_EQ(logic->caption(), QStringLiteral("Kelvora - neu.kvf"));
    EXPECT_EQ(logic->AktDatei(), file);
    EXPECT_TRUE(logic->Gespeichert());
    EXPECT_EQ(dialogs.fileDialogFolders, QStringList{dir.path()});
}

TEST_F(MainLogicTest, AFailedLoadKeepsSeriesFileCaptionAndChanges)
{
    const QString good = dir.file(QStringLiteral("gut.kvf"));
    series(2);
    ASSERT_TRUE(logic->SerieSpeichern(good));
    logic->memoChanged(QStringLiteral("ungespeichert"));
    const QString shortFile = dir.file(QStringLiteral("kurz.kvf"));
    dir.write(QStringLiteral("kurz.kvf"), QByteArray(4963 * 99, '\x01'));
    EXPECT_FALSE(logic->SerieLaden(shortFile));
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_TRUE(dialogs.shown[0].contains(QStringLiteral("kurz.kvf")));
    EXPECT_TRUE(dialogs.shown[0].contains(QStringLiteral("99 von 100")));
    EXPECT_EQ(logic->AktDatei(), good);
    EXPECT_EQ(logic->caption(), QStringLiteral("Kelvora - gut.kvf"));
    EXPECT_FALSE(logic->Gespeichert());
    EXPECT_EQ(logic->controls().memo, QStringLiteral("ungespeichert"));
    EXPECT_EQ(texts(3), (QStringList{QStringLiteral("Frage 1"), QStringLiteral("Frage 2"), QString()}));
}

TEST_F(MainLogicTest, AFailedCreateKeepsTheOpenSeries)
{
    series(2);
    kv::test::TempFolder gone;
    EXPECT_FALSE(logic->SerieLaden(gone.file(QStringLiteral("fehlt/neu.kvf"))));
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_TRUE(dialogs.shown[0].contains(QStringLiteral("neu.kvf")));
    EXPECT_EQ(Fragen.countQuestions(), 2);
    EXPECT_EQ(logic->AktDatei(), dir.file(QStringLiteral("serie.kvf")));
}

TEST_F(MainLogicTest, SaveAsAsksBeforeOverwritingAndCancelShowsTheDialogAgain)
{
    const QString existing = dir.file(QStringLiteral("alt.kvf"));
    dir.write(QStringLiteral("alt.kvf"), "alt");
    const QString fresh = dir.file(QStringLiteral("neu.kvf"));
    logic->memoChanged(QStringLiteral("F1"));
    dialogs.files = {existing, existing, fresh};
    dialogs.answers = {Answer::Cancel, Answer::Cancel};
    EXPECT_EQ(logic->saveAsClicked(), MainLogic::SaveResult::Saved);
    EXPECT_EQ(dialogs.shown, (QStringList{kOverwrite, kOverwrite}));
    EXPECT_EQ(dir.read(QStringLiteral("alt.kvf")), QByteArray("alt"));
    EXPECT_EQ(QFileInfo(fresh).size(), 496300);
    EXPECT_EQ(logic->caption(), QStringLiteral("Kelvora - neu.kvf"));
    EXPECT_TRUE(logic->Gespeichert());

    dialogs.take();
    dialogs.files = {existing};
    dialogs.answers = {Answer::Yes};
    EXPECT_EQ(logic->saveAsClicked(), MainLogic::SaveResult::Saved);
    EXPECT_EQ(QFileInfo(existing).size(), 496300);
    EXPECT_EQ(logic->AktDatei(), existing);
}

TEST_F(MainLogicTest, CutAndPasteMoveWholeRecordsWithTheirHistory)
{
    series(5);
    goTo(3);
    const QByteArray third(reinterpret_cast<const char *>(&Fragen[3]), sizeof(TFrage));
    logic->cutClicked();
    EXPECT_EQ(texts(5), (QStringList{"Frage 1", "Frage 2", "Frage 4", "Frage 5", ""}));
    EXPECT_EQ(Fragen.countQuestions(), 4);
    EXPECT_EQ(logic->AktFrage(), 3);
    EXPECT_EQ(logic->controls().memo, QStringLiteral("Frage 4"));
    EXPECT_FALSE(logic->Gespeichert());
    EXPECT_EQ(Fragen[3].resultCount(), 0); // question 4 has 4 mod 4 results
    EXPECT_EQ(Fragen[4].resultCount(), 1); // question 5 has one

    logic->pasteClicked();
    EXPECT_EQ(texts(6), (QStringList{"Frage 1", "Frage 2", "Frage 3", "Frage 4", "Frage 5", ""}));
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(&Fragen[3]), sizeof(TFrage)), third);
    EXPECT_EQ(Fragen[3].resultCount(), 3);
    // The clipboard keeps its question: it can be pasted again.
    logic->pasteClicked();
    EXPECT_EQ(texts(7), (QStringList{"Frage 1", "Frage 2", "Frage 3", "Frage 3", "Frage 4", "Frage 5", ""}));
}

TEST_F(MainLogicTest, CutAtHundredLeavesTheBlankSlotsBehind)
{
    series(100);
    goTo(100);
    logic->cutClicked();
    EXPECT_EQ(Fragen.countQuestions(), 99);
    EXPECT_TRUE(Fragen[100].isEmpty());
    EXPECT_TRUE(Fragen[101].isEmpty());
    EXPECT_EQ(Fragen[100].resultCount(), 0);
    EXPECT_EQ(logic->Zwischenablage().Fragetext.text(), QStringLiteral("Frage 100"));
}

TEST_F(MainLogicTest, PasteBeforeAnythingWasCopiedInsertsNeueFrage)
{
    series(2);
    EXPECT_TRUE(logic->Zwischenablage().Fragetext.isEmpty());
    logic->pasteClicked();
    EXPECT_EQ(texts(4), (QStringList{"Neue Frage", "Frage 1", "Frage 2", ""}));
    EXPECT_EQ(logic->controls().memo, QStringLiteral("Neue Frage"));
    EXPECT_FALSE(logic->Gespeichert());
}

// Inserting an empty question: where, what it drops, and what comes in its place.
struct InsertCase {
    int at;
    QStringList around; // slots at-1, at, at+1 afterwards (at+1 only below 100)
};
class InsertEmpty : public MainLogicTest, public ::testing::WithParamInterface<InsertCase> {};

TEST_P(InsertEmpty, IntoAFullSeries)
{
    series(100);
    goTo(GetParam().at);
    logic->insertEmptyClicked();
    const int at = GetParam().at;
    QStringList around;
    for (int s = at - 1; s <= std::min(at + 1, 100); ++s)
        around << text(s);
    EXPECT_EQ(around, GetParam().around);
    EXPECT_EQ(Fragen[at].resultCount(), 0);
    EXPECT_EQ(uint16_t(Fragen[at].Typ), 5);
    EXPECT_EQ(Fragen.countQuestions(), 100);
    EXPECT_TRUE(Fragen[101].isEmpty());
    EXPECT_EQ(logic->controls().memo, QStringLiteral("Neue Frage"));
    EXPECT_FALSE(logic->Gespeichert());
    if (at < 100) {
        EXPECT_EQ(text(100), QStringLiteral("Frage 99")); // the former question 100 is lost
        EXPECT_EQ(Fragen[at + 1].resultCount(), at % 4);  // moved with its history
    }
}

INSTANTIATE_TEST_SUITE_P(MainLogic, InsertEmpty,
                         ::testing::Values(InsertCase{50, {"Frage 49", "Neue Frage", "Frage 50"}},
                                           InsertCase{100, {"Frage 99", "Neue Frage"}},
                                           InsertCase{2, {"Frage 1", "Neue Frage", "Frage 2"}}));

TEST_F(MainLogicTest, ClipboardOperationsKeepWhatWasJustTyped)
{
    series(2);
    logic->memoChanged(QStringLiteral("Frage 1 verbessert"));
    logic->copyClicked();
    EXPECT_EQ(logic->Zwischenablage().Fragetext.text(), QStringLiteral("Frage 1 verbessert"));
    logic->memoChanged(QStringLiteral("Frage 1 nochmals verbessert"));
    logic->insertEmptyClicked();
    EXPECT_EQ(texts(3), (QStringList{"Neue Frage", "Frage 1 nochmals verbessert", "Frage 2"}));
}

TEST_F(MainLogicTest, PresentDoesNotStartWhenTheFileCannotBeSaved)
{
    auto gone = std::make_unique<kv::test::TempFolder>();
    const QString file = gone->file(QStringLiteral("p.kvf"));
    ASSERT_TRUE(logic->SerieLaden(file));
    gone.reset(); // the folder is removed
    EXPECT_TRUE(logic->presentClicked().isEmpty());
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_TRUE(dialogs.shown[0].contains(QStringLiteral("p.kvf")));
}

TEST_F(MainLogicTest, StatisticsNeedAFileAndTellTheWindowWhichQuestion)
{
    StatistikFrage = 77;
    StatistikSofort = true;
    for (const char *q : {"eins", "zwei"}) {
        logic->memoChanged(QString::fromLatin1(q));
        logic->nextClicked();
    }
    ASSERT_EQ(logic->AktFrage(), 3);
    EXPECT_FALSE(logic->statisticsClicked());
    EXPECT_EQ(StatistikFrage, 77);
    EXPECT_TRUE(StatistikSofort);
    ASSERT_TRUE(logic->SerieSpeichern(dir.file(QStringLiteral("st.kvf"))));
    EXPECT_TRUE(logic->statisticsClicked());
    EXPECT_EQ(StatistikFrage, 3);
    EXPECT_FALSE(StatistikSofort);
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

TEST_F(MainLogicTest, ShowStepConsumesTheStartFile)
{
    auto saved = std::make_unique<TFragen>();
    (*saved)[1].Fragetext.setText(QStringLiteral("Aus der Befehlszeile"));
    const QString file = dir.file(QStringLiteral("start.kvf"));
    ASSERT_TRUE(saveSeries(*saved, file));
    logic->memoChanged(QStringLiteral("alt"));
    StartFile = file;
    logic->showStep();
    EXPECT_TRUE(StartFile.isEmpty());
    EXPECT_EQ(logic->controls().memo, QStringLiteral("Aus der Befehlszeile"));
    EXPECT_EQ(logic->caption(), QStringLiteral("Kelvora - start.kvf"));
    EXPECT_TRUE(logic->Gespeichert());
    // The next showing starts from a new series.
    logic->showStep();
    EXPECT_EQ(logic->caption(), QStringLiteral("Kelvora"));
    EXPECT_TRUE(logic->controls().memo.isEmpty());
}

TEST_F(MainLogicTest, ExportAsksBeforeOverwritingAndReportsAMissingHeader)
{
    series(1);
    const QString target = dir.file(QStringLiteral("r.xml"));
    dir.write(QStringLiteral("r.xml"), "vorher");
    // No header in the program folder: the existing target stays.
    dialogs.files = {target, target};
    dialogs.answers = {Answer::Cancel, Answer::Yes};
    logic->exportClicked();
    ASSERT_EQ(dialogs.shown.size(), 3);
    EXPECT_EQ(dialogs.shown[0], kOverwrite);
    EXPECT_EQ(dialogs.shown[1], kOverwrite);
    EXPECT_TRUE(dialogs.shown[2].contains(QStringLiteral("xmlheader.txt")));
    EXPECT_EQ(dir.read(QStringLiteral("r.xml")), QByteArray("vorher"));

    dialogs.take();
    dir.write(QStringLiteral("xmlheader.txt"), "<kopf>\r\n");
    dialogs.files = {target};
    dialogs.answers = {Answer::Yes};
    logic->exportClicked();
    EXPECT_EQ(dialogs.take(), QStringList{kOverwrite});
    EXPECT_TRUE(
        dir.read(QStringLiteral("r.xml")).startsWith("<kopf>\r\n<Worksheet ss:Name=\"Frage 1\">\r\n"));
}

TEST(MainGeometry, ControlsLieInsideTheClientAreaAndDoNotOverlap)
{
    const MainGeometry g = mainGeometry();
    QList<QRect> all{g.label1,  g.memo1,   g.radioGroup1, g.korrektLabel,
                     g.bitBtn1, g.bitBtn2, g.button1,     g.bitBtn3};
    for (int i = 0; i < 5; ++i)
        all << g.letters[size_t(i)] << g.edits[size_t(i)] << g.checks[size_t(i)];
    const QRect client(QPoint(0, 0), kMainClientSize);
    for (int i = 0; i < all.size(); ++i) {
        EXPECT_TRUE(client.contains(all[i])) << i;
        EXPECT_FALSE(all[i].isEmpty()) << i;
        for (int j = i + 1; j < all.size(); ++j)
            EXPECT_FALSE(all[i].intersects(all[j])) << i << " and " << j;
    }
    // Each check box sits in its answer's row, under the "korrekt" heading.
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(g.checks[size_t(i)].center().y(), g.edits[size_t(i)].center().y());
        EXPECT_GE(g.checks[size_t(i)].left(), g.korrektLabel.left());
        EXPECT_LE(g.checks[size_t(i)].right(), g.korrektLabel.right());
    }
}

} // namespace
