// The audience page: the one HTML document the students vote on.
#pragma once

#include <string>

namespace kv::server {

// The audience page served at "/": one self-contained HTML document.
const std::string &audiencePage();

} // namespace kv::server
