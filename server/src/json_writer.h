// The writer of the audience API's JSON replies: an object's members in the order they are added,
// names and strings escaped by jsonString(), no blanks: {"ok":true,"id":"demo","open":false}.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::server {

class JsonObject {
public:
    JsonObject &addText(std::string_view name, std::string_view utf8);
    JsonObject &addBool(std::string_view name, bool value);
    JsonObject &addNumber(std::string_view name, int64_t value);
    JsonObject &addTextArray(std::string_view name, const std::vector<std::string> &utf8);
    // The object as JSON text.
    std::string str() const { return m_text + "}"; }

private:
    // Starts the member `name` and returns where its value goes.
    std::string &member(std::string_view name);

    std::string m_text = "{";
};

} // namespace kv::server
