// The lecturers' guide: kelvora-guide-pdf turns the German guide into a PDF that poppler reads and
// whose text is the guide's; faulty inputs leave no PDF behind; and the messages the guides quote
// are the program's own texts, letter for letter, the same in both languages.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace fs = std::filesystem;

namespace {

using Outcome = kv::test::ProgramRun;
const auto &quoted = kv::test::shellQuoted;
const auto &run = kv::test::runProgram;

std::string readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const fs::path &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

const fs::path kSource = KELVORA_SOURCE_DIR;

class GuidePdf : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/kelvora-guide-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    Outcome tool(const std::string &args) { return run(quoted(KELVORA_GUIDE_PDF_BIN) + " " + args); }
    fs::path m_dir;
};

TEST_F(GuidePdf, TheGermanGuideBecomesAPdfPopplerReads)
{
    const fs::path pdf = m_dir / "Dozenten_Hilfe.pdf";
    const Outcome made = tool(quoted((kSource / "docs/guide.de.md").string()) + " " + quoted(pdf.string()));
    ASSERT_EQ(made.status, 0) << made.output;
    ASSERT_EQ(readFile(pdf).rfind("%PDF-", 0), 0u);

    const Outcome info = run("pdfinfo " + quoted(pdf.string()));
    ASSERT_EQ(info.status, 0) << info.output;
    std::smatch pages;
    ASSERT_TRUE(std::regex_search(info.output, pages, std::regex("Pages:\\s+(\\d+)"))) << info.output;
    EXPECT_GE(std::stoi(pages[1]), 5) << "the whole guide is several pages";
    EXPECT_TRUE(std::regex_search(info.output, std::regex("Page size:\\s+595(\\.\\d+)? x 84[12]")))
        << "A4: " << info.output;

    const Outcome text = run("pdftotext -enc UTF-8 " + quoted(pdf.string()) + " -");
    ASSERT_EQ(text.status, 0) << text.output;
    // Headings from the start and the end of the guide, with the umlauts intact.
    for (const char *expected :
         {"Kelvora", "Installation", "Eine Umfrageserie präsentieren", "Sofort-Umfrage",
          "Fehlermeldungen und was zu tun ist", "Ende der Präsentation"})
        EXPECT_NE(text.output.find(expected), std::string::npos) << expected;
    // Markdown syntax is rendered, not printed.
    EXPECT_EQ(text.output.find("## "), std::string::npos);
}

TEST_F(GuidePdf, FaultyInputsLeaveNoPdf)
{
    writeFile(m_dir / "empty.md", " \n\n");
    writeFile(m_dir / "guide.md", "# Titel\n\nText.\n");
    struct Case {
        const char *name;
        std::string args;
    };
    const fs::path out = m_dir / "out.pdf";
    const Case cases[] = {
        {"missing guide", quoted((m_dir / "none.md").string()) + " " + quoted(out.string())},
        {"empty guide", quoted((m_dir / "empty.md").string()) + " " + quoted(out.string())},
        {"one argument", quoted((m_dir / "guide.md").string())},
        {"output in a missing folder",
         quoted((m_dir / "guide.md").string()) + " " + quoted((m_dir / "no/such/out.pdf").string())},
    };
    for (const Case &c : cases) {
        const Outcome r = tool(c.args);
        EXPECT_NE(r.status, 0) << c.name;
        EXPECT_NE(r.output.find("kelvora-guide-pdf:"), std::string::npos) << c.name << ": " << r.output;
        EXPECT_FALSE(fs::exists(out)) << c.name;
        EXPECT_FALSE(fs::exists(m_dir / "no")) << c.name;
    }
}

TEST_F(GuidePdf, AFailedRunKeepsTheEarlierPdf)
{
    const fs::path out = m_dir / "out.pdf";
    writeFile(m_dir / "guide.md", "# Titel\n\nText.\n");
    ASSERT_EQ(tool(quoted((m_dir / "guide.md").string()) + " " + quoted(out.string())).status, 0);
    const std::string before = readFile(out);
    ASSERT_EQ(before.rfind("%PDF-", 0), 0u);
    EXPECT_NE(tool(quoted((m_dir / "none.md").string()) + " " + quoted(out.string())).status, 0);
    EXPECT_EQ(readFile(out), before);
}

// ---------------------------------------------------------------------------
// The quoted messages

// Every string literal of the program's sources, adjacent literals joined, "\n" and "\"" decoded.
std::string programTexts()
{
    std::string all;
    const std::regex literalRun("\"((?:[^\"\\\\\\n]|\\\\.)*)\"(?:\\s*\"(?:[^\"\\\\\\n]|\\\\.)*\")*");
    const std::regex literal("\"((?:[^\"\\\\\\n]|\\\\.)*)\"");
    for (const char *folder : {"core", "net", "ui", "platform", "app", "server/src", "tools"}) {
        for (const auto &entry : fs::recursive_directory_iterator(kSource / folder)) {
            const auto ext = entry.path().extension();
            if (ext != ".cpp" && ext != ".h")
                continue;
            const std::string src = readFile(entry.path());
            for (std::sregex_iterator it(src.begin(), src.end(), literalRun), end; it != end; ++it) {
                const std::string run = it->str();
                std::string joined;
                for (std::sregex_iterator l(run.begin(), run.end(), literal); l != end; ++l)
                    joined += (*l)[1].str();
                std::string text;
                for (size_t i = 0; i < joined.size(); ++i) {
                    if (joined[i] == '\\' && i + 1 < joined.size()) {
                        const char c = joined[++i];
                        text += c == 'n' ? '\n' : c;
                    } else {
                        text += joined[i];
                    }
                }
                all += text;
                all += '\x01';
            }
        }
    }
    return all;
}

// The message lines of a guide: its block quotes ("> text"), in order.
std::vector<std::string> quotedLines(const fs::path &guide)
{
    std::vector<std::string> lines;
    std::istringstream in(readFile(guide));
    for (std::string line; std::getline(in, line);)
        if (line.rfind("> ", 0) == 0)
            lines.push_back(line.substr(2));
    return lines;
}

TEST(GuideMessages, EveryQuotedMessageIsTheProgramsOwnText)
{
    const std::string texts = programTexts();
    ASSERT_NE(texts.find("Ende der Präsentation"), std::string::npos) << "the sources were not read";
    for (const char *guide : {"docs/guide.de.md", "docs/guide.en.md"}) {
        const auto lines = quotedLines(kSource / guide);
        EXPECT_GE(lines.size(), 30u) << guide;
        for (std::string line : lines) {
            // "…" stands for what the program fills in (a reply, a number); „…“ for a file name,
            // which the program puts in these quotes itself.
            for (size_t at; (at = line.find("„…“")) != std::string::npos;)
                line.replace(at, std::string("„…“").size(), "…");
            size_t from = 0;
            while (from <= line.size()) {
                size_t to = line.find("…", from);
                if (to == std::string::npos)
                    to = line.size();
                std::string part = line.substr(from, to - from);
                while (!part.empty() && part.back() == ' ')
                    part.pop_back();
                while (!part.empty() && part.front() == ' ')
                    part.erase(0, 1);
                if (part.size() >= 4) {
                    EXPECT_NE(texts.find(part), std::string::npos)
                        << guide << ": \"" << part << "\" in: " << line;
                }
                from = to + std::string("…").size();
            }
        }
    }
}

TEST(GuideMessages, BothGuidesQuoteTheSameMessages)
{
    const auto de = quotedLines(kSource / "docs/guide.de.md");
    const auto en = quotedLines(kSource / "docs/guide.en.md");
    EXPECT_EQ(std::set<std::string>(de.begin(), de.end()), std::set<std::string>(en.begin(), en.end()));
}

} // namespace
