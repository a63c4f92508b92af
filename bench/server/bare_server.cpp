// kelvora-bare-server: the baseline of the poll server's load benchmark. A libmicrohttpd server
// with the poll server's threading (an epoll loop per worker thread, two by default) that answers
// the requests kelvora-server-load sends, in the same shapes, without storing anything: no
// database, no accounts, no device checks, no vote rules. It only keeps the five counts in memory,
// so that the load tool can check that no vote was lost.
//
//   kelvora-bare-server [--port N] [--threads N]      (listens on 127.0.0.1; ends on SIGINT/SIGTERM)
#include <arpa/inet.h>
#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <microhttpd.h>
#include <netinet/in.h>
#include <pthread.h>
#include <string>

namespace {

std::array<std::atomic<long>, 5> g_counts{};

struct Upload {
    std::string body;
};

MHD_Result reply(MHD_Connection *conn, int status, const std::string &body, const char *type,
                 const char *cookie = nullptr)
{
    MHD_Response *resp =
        MHD_create_response_from_buffer(body.size(), const_cast<char *>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (!resp)
        return MHD_NO;
    MHD_add_response_header(resp, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    MHD_add_response_header(resp, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    if (cookie)
        MHD_add_response_header(resp, MHD_HTTP_HEADER_SET_COOKIE, cookie);
    const MHD_Result ret = MHD_queue_response(conn, static_cast<unsigned>(status), resp);
    MHD_destroy_response(resp);
    return ret;
}

MHD_Result onRequest(void *, MHD_Connection *conn, const char *url, const char *method, const char *,
                     const char *data, size_t *dataSize, void **context)
{
    const std::string path = url;
    // As the poll server does: the first call only announces the request; the reply is queued once
    // the whole request is in (queued earlier, libmicrohttpd closes the connection after it).
    if (!*context) {
        *context = new Upload;
        return MHD_YES;
    }
    auto *upload = static_cast<Upload *>(*context);
    if (*dataSize) {
        if (upload->body.size() + *dataSize <= 4096)
            upload->body.append(data, *dataSize);
        *dataSize = 0;
        return MHD_YES;
    }
    if (std::strcmp(method, "POST") == 0) {
        if (path != "/api/vote")
            return reply(conn, 404, "{\"ok\":false}", "application/json");
        const size_t at = upload->body.find("\"answer\":\"");
        const char letter = at == std::string::npos ? 0 : upload->body[at + 10];
        if (letter < 'A' || letter > 'E')
            return reply(conn, 400, "{\"ok\":false,\"result\":\"invalid\"}", "application/json");
        ++g_counts[static_cast<size_t>(letter - 'A')];
        return reply(conn, 200,
                     "{\"ok\":true,\"result\":\"counted\",\"message\":\"Ihre Stimme wurde gezählt.\"}",
                     "application/json; charset=utf-8");
    }
    if (path == "/api/poll")
        return reply(conn, 200, "{\"ok\":true,\"open\":true,\"answers\":5}", "application/json",
                     "kv_device=0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef; Path=/; "
                     "Max-Age=31536000; HttpOnly; SameSite=Lax");
    if (path == "/kv_set.php") {
        for (auto &c : g_counts)
            c = 0;
        return reply(conn, 200, "Ready for Voting", "text/plain; charset=windows-1252");
    }
    if (path == "/kv_result_simple.php") {
        std::string counts;
        for (const auto &c : g_counts)
            counts += std::to_string(c.load()) + "-";
        return reply(conn, 200, counts, "text/plain; charset=windows-1252");
    }
    if (path == "/kv_reset.php" || path == "/kv_user_exists.php")
        return reply(conn, 200, path == "/kv_reset.php" ? "" : "User exists",
                     "text/plain; charset=windows-1252");
    return reply(conn, 404, "Not found", "text/plain");
}

void onCompleted(void *, MHD_Connection *, void **context, MHD_RequestTerminationCode)
{
    delete static_cast<Upload *>(*context);
    *context = nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    int port = 8091;
    unsigned threads = 2;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--port" && i + 1 < argc)
            port = std::atoi(argv[++i]);
        else if (a == "--threads" && i + 1 < argc)
            threads = static_cast<unsigned>(std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "Usage: kelvora-bare-server [--port N] [--threads N]\n");
            return 2;
        }
    }
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    MHD_Daemon *daemon = MHD_start_daemon(
        MHD_USE_EPOLL_INTERNAL_THREAD, static_cast<uint16_t>(port), nullptr, nullptr, &onRequest, nullptr,
        MHD_OPTION_SOCK_ADDR, &address, MHD_OPTION_THREAD_POOL_SIZE, threads > 1 ? threads : 0u,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<size_t>(16 * 1024), MHD_OPTION_CONNECTION_LIMIT,
        8000u, MHD_OPTION_CONNECTION_TIMEOUT, 120u, MHD_OPTION_NOTIFY_COMPLETED, &onCompleted, nullptr,
        MHD_OPTION_END);
    if (!daemon) {
        std::fprintf(stderr, "kelvora-bare-server: cannot listen on 127.0.0.1 port %d\n", port);
        return 1;
    }
    std::printf("kelvora-bare-server: 127.0.0.1:%d, %u threads\n", port, threads);
    std::fflush(stdout);
    int sig = 0;
    sigwait(&signals, &sig);
    MHD_stop_daemon(daemon);
    return 0;
}
