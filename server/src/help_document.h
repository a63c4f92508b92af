// The lecturers' help document, served at /Dozenten_Hilfe.pdf for the client's "?": a PDF file read
// once at start and held in memory whole.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "server/src/http_request.h"

namespace kv::server {

// A larger file is refused at start.
constexpr size_t kMaxHelpPdfBytes = 8 * 1024 * 1024;

// Reads the help document: a PDF file (it starts with "%PDF-") of at most `maxBytes`. Reads no
// more than maxBytes + 1 bytes, whatever the file claims. Throws with the reason when it cannot.
std::string readHelpDocument(const std::string &path, size_t maxBytes = kMaxHelpPdfBytes);

// Where the server looks for the help document when no --help-pdf is given, in this order: beside
// its executable (a build), then the place the package installs it.
std::vector<std::string> helpDocumentCandidates(const std::string &executableFolder);

class HelpDocument {
public:
    // Reads the document at `path` (see readHelpDocument); an empty path: none, then the route
    // answers 404.
    void load(const std::string &path, size_t maxBytes);
    // The route's handler (GET and HEAD).
    bool serve(RequestContext &ctx) const;

private:
    std::string m_pdf; // not changed while the server runs; empty: none
};

} // namespace kv::server
