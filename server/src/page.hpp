#pragma once

#include <string>

namespace kelvora::server {

// The audience page served at "/": one self-contained HTML document.
const std::string& audiencePage();

} // namespace kelvora::server
