#include "server/src/text.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <utf8proc.h>

namespace kv::server {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Code points of 0x80..0x9F in Windows-1252; the unassigned ones keep their value.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void appendUtf8(std::string &out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes one code point; returns bytes consumed, 0 on invalid input.
size_t decodeUtf8(std::string_view s, size_t i, uint32_t &cp)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    size_t n;
    uint32_t min;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    if ((b0 & 0xE0) == 0xC0) {
        n = 2;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4;
        cp = b0 & 0x07;
        min = 0x10000;
    } else
        return 0;
    if (i + n > s.size())
        return 0;
    for (size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

} // namespace

std::string percentEncode(std::string_view bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const unsigned char c : bytes) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.'
            || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        }
    }
    return out;
}

std::optional<std::string> percentDecode(std::string_view in)
{
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 2 >= in.size())
                return std::nullopt;
            const int hi = hexValue(in[i + 1]);
            const int lo = hexValue(in[i + 2]);
            if (hi < 0 || lo < 0)
                return std::nullopt;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::string cp1252ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80)
            out += ch;
        else if (b < 0xA0)
            appendUtf8(out, kCp1252High[b - 0x80]);
        else
            appendUtf8(out, b);
    }
    return out;
}

bool isValidUtf8(std::string_view s)
{
    uint32_t cp;
    for (size_t i = 0; i < s.size();) {
        const size_t n = decodeUtf8(s, i, cp);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

size_t utf8Length(std::string_view s)
{
    size_t n = 0;
    for (const char c : s)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++n;
    return n;
}

bool hasControlChars(std::string_view s)
{
    uint32_t cp;
    for (size_t i = 0; i < s.size();) {
        const size_t n = decodeUtf8(s, i, cp);
        if (n == 0)
            return true; // not UTF-8 at all: treat as unusable
        if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0))
            return true;
        i += n;
    }
    return false;
}

Params::Get Params::one(const std::string &name, std::string &out) const
{
    const auto it = values.find(name);
    if (it == values.end() || it->second.empty())
        return Get::Missing;
    if (it->second.size() > 1)
        return Get::Duplicate;
    out = it->second.front();
    return Get::Ok;
}

bool Params::required(const char *name, std::string &out, std::string &error) const
{
    switch (one(name, out)) {
    case Get::Ok:
        return true;
    case Get::Missing:
        error = std::string("Missing parameter: ") + name;
        return false;
    case Get::Duplicate:
        error = std::string("Duplicate parameter: ") + name;
        return false;
    }
    return false;
}

bool Params::optional(const char *name, std::string &out, std::string &error) const
{
    switch (one(name, out)) {
    case Get::Ok:
        return true;
    case Get::Missing:
        out.clear();
        return true;
    case Get::Duplicate:
        error = std::string("Duplicate parameter: ") + name;
        return false;
    }
    return false;
}

std::optional<Params> parseQuery(std::string_view query, Charset cs)
{
    Params p;
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string_view::npos)
            end = query.size();
        const std::string_view part = query.substr(start, end - start);
        if (!part.empty()) {
            const size_t eq = part.find('=');
            auto name = percentDecode(part.substr(0, eq));
            auto value =
                percentDecode(eq == std::string_view::npos ? std::string_view{} : part.substr(eq + 1));
            if (!name || !value)
                return std::nullopt;
            if (cs == Charset::Windows1252) {
                *name = cp1252ToUtf8(*name);
                *value = cp1252ToUtf8(*value);
            } else if (!isValidUtf8(*name) || !isValidUtf8(*value)) {
                return std::nullopt;
            }
            p.values[*name].push_back(std::move(*value));
        }
        start = end + 1;
    }
    return p;
}

namespace {

struct JsonReader {
    std::string_view s;
    size_t i = 0;

    void ws()
    {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r'))
            ++i;
    }
    bool eat(char c)
    {
        ws();
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    }
    bool hex4(uint32_t &v)
    {
        if (i + 4 > s.size())
            return false;
        v = 0;
        for (int k = 0; k < 4; ++k) {
            const int h = hexValue(s[i++]);
            if (h < 0)
                return false;
            v = v * 16 + static_cast<uint32_t>(h);
        }
        return true;
    }
    std::optional<std::string> string()
    {
        if (!eat('"'))
            return std::nullopt;
        std::string out;
        while (i < s.size()) {
            const char c = s[i++];
            if (c == '"')
                return isValidUtf8(out) ? std::optional(out) : std::nullopt;
            if (static_cast<unsigned char>(c) < 0x20)
                return std::nullopt;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i >= s.size())
                return std::nullopt;
            const char e = s[i++];
            switch (e) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case '/':
                out += '/';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                uint32_t cp;
                if (!hex4(cp))
                    return std::nullopt;
                if (cp >= 0xD800 && cp < 0xDC00) {
                    uint32_t lo;
                    if (i + 2 > s.size() || s[i] != '\\' || s[i + 1] != 'u')
                        return std::nullopt;
                    i += 2;
                    if (!hex4(lo) || lo < 0xDC00 || lo > 0xDFFF)
                        return std::nullopt;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                    return std::nullopt;
                }
                appendUtf8(out, cp);
                break;
            }
            default:
                return std::nullopt;
            }
        }
        return std::nullopt;
    }
    std::optional<std::string> scalar()
    {
        ws();
        if (i >= s.size())
            return std::nullopt;
        if (s[i] == '"')
            return string();
        const size_t b = i;
        while (
            i < s.size()
            && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '-' || s[i] == '+' || s[i] == '.'))
            ++i;
        const std::string lit(s.substr(b, i - b));
        if (lit.empty())
            return std::nullopt;
        if (lit == "true" || lit == "false" || lit == "null")
            return lit;
        // A number: digits with optional sign, fraction and exponent.
        for (const char c : lit)
            if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+' || c == '.' || c == 'e'
                  || c == 'E'))
                return std::nullopt;
        return lit;
    }
};

} // namespace

std::optional<std::map<std::string, std::string>> parseFlatJsonObject(std::string_view json)
{
    JsonReader r{json};
    std::map<std::string, std::string> out;
    if (!r.eat('{'))
        return std::nullopt;
    if (!r.eat('}')) {
        do {
            auto key = r.string();
            if (!key || !r.eat(':'))
                return std::nullopt;
            auto value = r.scalar();
            if (!value)
                return std::nullopt;
            if (!out.emplace(std::move(*key), std::move(*value)).second)
                return std::nullopt; // duplicate key
        } while (r.eat(','));
        if (!r.eat('}'))
            return std::nullopt;
    }
    r.ws();
    if (r.i != json.size())
        return std::nullopt;
    return out;
}

std::string jsonString(std::string_view s)
{
    static const char *hex = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '<':
            out += "\\u003c";
            break; // harmless inside script-free JSON, safe if ever inlined
        default:
            if (b < 0x20) {
                out += "\\u00";
                out += hex[b >> 4];
                out += hex[b & 15];
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

bool isValidUserId(std::string_view id)
{
    return !id.empty() && isValidUtf8(id) && utf8Length(id) <= 64 && !hasControlChars(id);
}

std::string foldUserId(std::string_view utf8)
{
    if (!isValidUtf8(utf8))
        return {};
    // utf8proc decomposes, folds and composes again in one pass, so the result is NFC.
    utf8proc_uint8_t *folded = nullptr;
    const auto length = utf8proc_map(
        reinterpret_cast<const utf8proc_uint8_t *>(utf8.data()), static_cast<utf8proc_ssize_t>(utf8.size()),
        &folded, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD));
    const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(folded, &std::free);
    if (length < 0)
        return {};
    return std::string(reinterpret_cast<const char *>(folded), static_cast<size_t>(length));
}

std::string toLowerAscii(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string trimAscii(std::string_view s)
{
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n'))
        --e;
    return std::string(s.substr(b, e - b));
}

std::optional<std::map<std::string, std::string>> parseVoteBody(std::string_view mime, std::string_view body)
{
    if (mime.substr(0, 16) == "application/json")
        return parseFlatJsonObject(body);
    if (!mime.empty() && mime.substr(0, 33) != "application/x-www-form-urlencoded")
        return std::nullopt;
    const auto q = parseQuery(body, Charset::Utf8);
    if (!q)
        return std::nullopt;
    std::map<std::string, std::string> fields;
    for (const auto &[k, v] : q->values) {
        if (v.size() != 1)
            return std::nullopt;
        fields[k] = v.front();
    }
    return fields;
}

} // namespace kv::server
