#include "server/src/json_writer.h"

#include "server/src/text.h"

namespace kv::server {

std::string &JsonObject::member(std::string_view name)
{
    if (m_text.size() > 1)
        m_text += ',';
    m_text += jsonString(name);
    m_text += ':';
    return m_text;
}

JsonObject &JsonObject::addText(std::string_view name, std::string_view utf8)
{
    member(name) += jsonString(utf8);
    return *this;
}

JsonObject &JsonObject::addBool(std::string_view name, bool value)
{
    member(name) += value ? "true" : "false";
    return *this;
}

JsonObject &JsonObject::addNumber(std::string_view name, int64_t value)
{
    member(name) += std::to_string(value);
    return *this;
}

JsonObject &JsonObject::addTextArray(std::string_view name, const std::vector<std::string> &utf8)
{
    std::string &out = member(name);
    out += '[';
    for (size_t i = 0; i < utf8.size(); ++i) {
        if (i > 0)
            out += ',';
        out += jsonString(utf8[i]);
    }
    out += ']';
    return *this;
}

} // namespace kv::server
