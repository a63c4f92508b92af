#include "server/src/help_document.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "server/src/file_descriptor.h"

namespace kv::server {

std::string readHelpDocument(const std::string &path, size_t maxBytes)
{
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file.valid())
        throw std::runtime_error("cannot open the help document " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))
        throw std::runtime_error("the help document " + path + " is not a regular file");
    // The size fstat reports is not trusted: at most maxBytes + 1 bytes are read, to see whether
    // the file is larger than allowed.
    std::string data;
    data.resize(std::min<size_t>(maxBytes + 1, 64 * 1024));
    size_t have = 0;
    for (;;) {
        if (have == data.size()) {
            if (data.size() > maxBytes)
                break;
            data.resize(std::min(data.size() * 2, maxBytes + 1));
        }
        const ssize_t n = ::read(file.get(), data.data() + have, data.size() - have);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw std::runtime_error("cannot read the help document " + path + ": " + std::strerror(errno));
        if (n == 0)
            break;
        have += static_cast<size_t>(n);
    }
    data.resize(have);
    if (have > maxBytes)
        throw std::runtime_error("the help document " + path + " is larger than "
                                 + std::to_string(maxBytes / (1024 * 1024)) + " MiB");
    if (data.rfind("%PDF-", 0) != 0)
        throw std::runtime_error("the help document " + path + " is not a PDF file");
    return data;
}

std::vector<std::string> helpDocumentCandidates(const std::string &executableFolder)
{
    std::vector<std::string> places;
    if (!executableFolder.empty())
        places.push_back(executableFolder + (executableFolder.back() == '/' ? "" : "/")
                         + "Dozenten_Hilfe.pdf");
    places.push_back("/usr/share/kelvora-server/Dozenten_Hilfe.pdf");
    return places;
}

void HelpDocument::load(const std::string &path, size_t maxBytes)
{
    m_pdf = path.empty() ? std::string() : readHelpDocument(path, maxBytes);
}

bool HelpDocument::serve(RequestContext &ctx) const
{
    if (m_pdf.empty()) {
        ctx.reply = textReply("Not found", 404);
        return true;
    }
    // libmicrohttpd sends a HEAD reply's headers (Content-Length included) without the body.
    ctx.reply.status = 200;
    ctx.reply.contentType = "application/pdf";
    // Every request would otherwise copy the document twice; it stays unchanged until the daemon
    // has stopped.
    ctx.reply.staticBody = &m_pdf;
    ctx.reply.headers = {{"Content-Disposition", "inline; filename=\"Dozenten_Hilfe.pdf\""},
                         {"X-Content-Type-Options", "nosniff"}};
    return true;
}

} // namespace kv::server
