// The lecturers' help document at /Dozenten_Hilfe.pdf: served as it lies on disk, GET and HEAD
// only, 404 without one; the reader refuses what is not a PDF of sound size; the program finds the
// document beside itself and takes --help-pdf.
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tests/server/http_client.h"
#include "tests/server/server_fixture.h"

extern char **environ;

using namespace kv::test;
namespace fs = std::filesystem;

namespace {

// A small PDF-like document with every byte value in it, so that a text conversion or a cut at
// the first NUL would show.
std::string samplePdf()
{
    std::string s = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    for (int i = 0; i < 3 * 256; ++i)
        s += static_cast<char>(i % 256);
    s += "\n%%EOF\n";
    return s;
}

void writeFile(const fs::path &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

class HelpDocument : public ServerFixture {
protected:
    void startWithHelp(const std::string &bytes)
    {
        m_pdfPath = (m_dir / "Dozenten_Hilfe.pdf").string();
        writeFile(m_pdfPath, bytes);
        auto c = config();
        c.helpPdfPath = m_pdfPath;
        startServer(c);
    }
    std::string m_pdfPath;
};

TEST_F(HelpDocument, GetServesTheFileByteForByteAsPdf)
{
    const std::string pdf = samplePdf();
    startWithHelp(pdf);
    const HttpResponse r = get("/Dozenten_Hilfe.pdf");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.header("content-type"), "application/pdf");
    EXPECT_EQ(r.header("content-length"), std::to_string(pdf.size()));
    EXPECT_EQ(r.body, pdf);
}

TEST_F(HelpDocument, TheClientsHelpLinkWithAQueryIsServedToo)
{
    const std::string pdf = samplePdf();
    startWithHelp(pdf);
    EXPECT_EQ(get("/Dozenten_Hilfe.pdf?v=2.5").body, pdf);
}

TEST_F(HelpDocument, HeadGivesTheHeadersWithoutTheBody)
{
    const std::string pdf = samplePdf();
    startWithHelp(pdf);
    HttpClient c(port());
    const HttpResponse r = c.head("/Dozenten_Hilfe.pdf");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.header("content-type"), "application/pdf");
    EXPECT_EQ(r.header("content-length"), std::to_string(pdf.size()));
    EXPECT_TRUE(r.body.empty());
    // The connection is still usable: no body bytes were left on it.
    const HttpResponse again = c.get("/Dozenten_Hilfe.pdf");
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(again.body, pdf);
}

TEST_F(HelpDocument, OtherMethodsAreRefused)
{
    startWithHelp(samplePdf());
    HttpClient c(port());
    const HttpResponse r = c.post("/Dozenten_Hilfe.pdf", "application/pdf", "%PDF-1.4 replaced");
    EXPECT_EQ(r.status, 405);
    // The document is read-only: still the one from disk.
    EXPECT_EQ(get("/Dozenten_Hilfe.pdf").body, samplePdf());
}

TEST_F(HelpDocument, ChangingTheFileAfterStartChangesNothingServed)
{
    const std::string pdf = samplePdf();
    startWithHelp(pdf);
    writeFile(m_pdfPath, "%PDF-1.4 another");
    EXPECT_EQ(get("/Dozenten_Hilfe.pdf").body, pdf);
}

TEST_F(HelpDocument, WithoutADocumentThePathIsNotFound)
{
    startServer();
    EXPECT_EQ(get("/Dozenten_Hilfe.pdf").status, 404);
    HttpClient c(port());
    EXPECT_EQ(c.head("/Dozenten_Hilfe.pdf").status, 404);
    // Nothing else of the server is changed by the missing document.
    EXPECT_EQ(openPoll(), "Ready for Voting");
}

TEST_F(HelpDocument, OnlyTheExactPathIsTheDocument)
{
    startWithHelp(samplePdf());
    for (const char *target : {"/dozenten_hilfe.pdf", "/Dozenten_Hilfe.pdf/", "/x/Dozenten_Hilfe.pdf",
                               "/Dozenten_Hilfe.pdf%00", "/../Dozenten_Hilfe.pdf"})
        EXPECT_EQ(get(target).status, 404) << target;
}

TEST_F(HelpDocument, AnUnreadableDocumentStopsTheStart)
{
    auto c = config();
    c.helpPdfPath = (m_dir / "missing.pdf").string();
    EXPECT_THROW(startServer(c), std::runtime_error);
    // The port was not taken: a server without the document starts on the same database.
    m_server.reset();
    startServer();
    EXPECT_EQ(get("/Dozenten_Hilfe.pdf").status, 404);
}

// ---------------------------------------------------------------------------
// The reader

class ReadHelpDocument : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/kelvora-help-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    std::string file(const std::string &name, const std::string &bytes)
    {
        const fs::path p = m_dir / name;
        writeFile(p, bytes);
        return p.string();
    }
    // The reason the reader gives, empty when it reads the file.
    std::string refusal(const std::string &path, size_t maxBytes)
    {
        try {
            kv::server::readHelpDocument(path, maxBytes);
            return {};
        } catch (const std::runtime_error &e) {
            return e.what();
        }
    }
    fs::path m_dir;
};

TEST_F(ReadHelpDocument, ReadsUpToTheLimitAndNotOneByteMore)
{
    const std::string atLimit = "%PDF-" + std::string(95, 'x');
    EXPECT_EQ(kv::server::readHelpDocument(file("a.pdf", atLimit), 100), atLimit);
    EXPECT_NE(refusal(file("b.pdf", atLimit + "y"), 100).find("larger than"), std::string::npos);
}

TEST_F(ReadHelpDocument, ALargeDocumentIsReadWhole)
{
    // Larger than the reader's first buffer, so the growing is exercised.
    std::string big = "%PDF-1.7\n";
    while (big.size() < 300 * 1024)
        big += static_cast<char>(big.size() * 7);
    EXPECT_EQ(kv::server::readHelpDocument(file("big.pdf", big)), big);
}

TEST_F(ReadHelpDocument, RefusesWhatIsNotAPdfFile)
{
    struct Case {
        const char *name;
        std::string path;
        const char *reason;
    };
    const std::string fifo = (m_dir / "fifo.pdf").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const Case cases[] = {
        {"missing", (m_dir / "none.pdf").string(), "cannot open"},
        {"empty", file("empty.pdf", ""), "not a PDF"},
        {"html", file("page.pdf", "<html>not found</html>"), "not a PDF"},
        {"truncated magic", file("cut.pdf", "%PDF"), "not a PDF"},
        {"folder", m_dir.string(), "not a regular file"},
        // A named pipe would block a plain open and read for ever.
        {"named pipe", fifo, "not a regular file"},
    };
    for (const Case &c : cases)
        EXPECT_NE(refusal(c.path, 1024).find(c.reason), std::string::npos)
            << c.name << ": " << refusal(c.path, 1024);
}

TEST(HelpDocumentPlaces, BesideTheProgramFirstThenThePackagedPlace)
{
    EXPECT_EQ(kv::server::helpDocumentCandidates("/opt/kv/bin/"),
              (std::vector<std::string>{"/opt/kv/bin/Dozenten_Hilfe.pdf",
                                        "/usr/share/kelvora-server/Dozenten_Hilfe.pdf"}));
    EXPECT_EQ(kv::server::helpDocumentCandidates("/opt/kv/bin").front(), "/opt/kv/bin/Dozenten_Hilfe.pdf");
    EXPECT_EQ(kv::server::helpDocumentCandidates(""),
              (std::vector<std::string>{"/usr/share/kelvora-server/Dozenten_Hilfe.pdf"}));
}

// ---------------------------------------------------------------------------
// The program

class HelpProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/kelvora-help-prog-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        // A copy of the program in a folder of its own, so "beside the program" is a folder the
        // test controls.
        m_exe = m_dir / "kelvora-server";
        fs::copy_file(KELVORA_SERVER_BIN, m_exe);
    }
    void TearDown() override
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_fd >= 0)
            close(m_fd);
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    // Starts the copy; returns the port from its ready line, or 0 when it ended first (then
    // m_output holds what it said and m_status how it ended).
    unsigned start(std::vector<std::string> extra)
    {
        std::vector<std::string> args = {
            m_exe.string(),    "--db", (m_dir / "polls.db").string(), "--bind", "127.0.0.1", "--port", "0",
            "--demo-password", "pw"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int p[2];
        EXPECT_EQ(pipe(p), 0);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&fa, p[1], 1);
        posix_spawn_file_actions_adddup2(&fa, p[1], 2);
        posix_spawn_file_actions_addclose(&fa, p[0]);
        // Run from elsewhere: the document must be found beside the program, not in the
        // working folder.
        posix_spawn_file_actions_addchdir_np(&fa, "/");
        EXPECT_EQ(posix_spawn(&m_pid, argv[0], &fa, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&fa);
        close(p[1]);
        m_fd = p[0];
        const std::string ready = "Kelvora server ready on port ";
        char buf[4096];
        for (;;) {
            pollfd pfd{m_fd, POLLIN, 0};
            if (poll(&pfd, 1, 30000) <= 0)
                break;
            const ssize_t n = read(m_fd, buf, sizeof buf);
            if (n <= 0)
                break;
            m_output.append(buf, static_cast<size_t>(n));
            const size_t at = m_output.find(ready);
            if (at != std::string::npos && m_output.find('\n', at) != std::string::npos)
                return static_cast<unsigned>(std::stoul(m_output.substr(at + ready.size())));
        }
        waitpid(m_pid, &m_status, 0);
        m_pid = -1;
        return 0;
    }

    fs::path m_dir, m_exe;
    pid_t m_pid = -1;
    int m_fd = -1;
    int m_status = 0;
    std::string m_output;
};

TEST_F(HelpProgram, FindsTheDocumentBesideItself)
{
    const std::string pdf = samplePdf();
    writeFile(m_dir / "Dozenten_Hilfe.pdf", pdf);
    const unsigned port = start({});
    ASSERT_NE(port, 0u) << m_output;
    EXPECT_NE(
        m_output.find("Help document (/Dozenten_Hilfe.pdf): " + (m_dir / "Dozenten_Hilfe.pdf").string()),
        std::string::npos)
        << m_output;
    HttpClient c(static_cast<uint16_t>(port));
    EXPECT_EQ(c.get("/Dozenten_Hilfe.pdf").body, pdf);
}

TEST_F(HelpProgram, TheOptionNamesAnotherFileAndAnEmptyOneServesNone)
{
    writeFile(m_dir / "Dozenten_Hilfe.pdf", samplePdf());
    const std::string other = "%PDF-1.5 the other guide";
    writeFile(m_dir / "other.pdf", other);
    unsigned port = start({"--help-pdf", (m_dir / "other.pdf").string()});
    ASSERT_NE(port, 0u) << m_output;
    {
        HttpClient c(static_cast<uint16_t>(port));
        EXPECT_EQ(c.get("/Dozenten_Hilfe.pdf").body, other);
    }
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
    close(m_fd);
    m_fd = -1;
    m_output.clear();

    port = start({"--help-pdf", ""});
    ASSERT_NE(port, 0u) << m_output;
    EXPECT_NE(m_output.find("Help document (/Dozenten_Hilfe.pdf): none"), std::string::npos) << m_output;
    HttpClient c(static_cast<uint16_t>(port));
    EXPECT_EQ(c.get("/Dozenten_Hilfe.pdf").status, 404);
}

TEST_F(HelpProgram, AMissingNamedDocumentIsAnErrorAtStart)
{
    EXPECT_EQ(start({"--help-pdf", (m_dir / "nowhere.pdf").string()}), 0u);
    ASSERT_TRUE(WIFEXITED(m_status)) << m_output;
    EXPECT_EQ(WEXITSTATUS(m_status), 1) << m_output;
    EXPECT_NE(m_output.find("cannot open the help document"), std::string::npos) << m_output;
}

} // namespace
