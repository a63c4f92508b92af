#include "tests/support/window_fixture.h"

#include "core/recdef.h"
#include "core/series.h"
#include "tests/support/shared_state.h"

namespace kv::test {

namespace {
// Short limits, so that a test of a stalled server ends quickly.
HttpClientConfig testHttpConfig()
{
    HttpClientConfig c;
    c.connectTimeoutMs = 2000;
    c.totalTimeoutMs = 5000;
    return c;
}
} // namespace

WindowFixture::WindowFixture()
    : server((resetSharedState(), QString::fromStdString(http.baseUrl())), [] { return IniDir; }, serverUi,
             testHttpConfig())
{}

WindowFixture::~WindowFixture()
{
    resetSharedState();
}

WindowServices WindowFixture::services()
{
    return WindowServices{server, dialogs, [this] { ++startWindowShown; }};
}

void WindowFixture::useProgramFolderAsIniDir()
{
    ProgDir = prog.path();
    DataDir = appData.path();
    IniDir = prog.path();
}

QString WindowFixture::queueSeriesFile(const TFragen &series, const QString &name)
{
    const QString file = appData.file(name);
    if (!saveSeries(series, file))
        qFatal("cannot save %s", qPrintable(file));
    dialogs.files.push_back(file);
    return file;
}

void WindowFixture::answer(const std::string &path, const std::string &body)
{
    http.enqueue(path, LoopbackHttpServer::Response::text(body));
}

} // namespace kv::test
