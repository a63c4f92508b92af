// Text handling for the poll server: percent-decoding, Windows-1252 and UTF-8,
// query strings, a very small JSON reader/writer for the audience API, and user IDs.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::server {

// Decodes %XX escapes and '+' (space). Returns nullopt for a broken escape.
std::optional<std::string> percentDecode(std::string_view in);
// Every byte but A-Z a-z 0-9 - . _ ~ as %XX (uppercase hex), for a value in a link.
std::string percentEncode(std::string_view bytes);

// Maps every byte as Windows-1252 to UTF-8. The five unassigned bytes
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 controls of the same value,
// as browsers do, so the mapping is total and reversible.
std::string cp1252ToUtf8(std::string_view bytes);

bool isValidUtf8(std::string_view s);

// Number of code points of a valid UTF-8 string.
size_t utf8Length(std::string_view s);

// True when the string contains a control character (C0, DEL or C1).
bool hasControlChars(std::string_view utf8);

enum class Charset { Windows1252, Utf8 };

// One query string or form body, split into name -> all values (in order).
// Names and values are decoded; in Windows-1252 mode both are converted to
// UTF-8, in UTF-8 mode invalid UTF-8 makes the whole parse fail.
struct Params {
    std::map<std::string, std::vector<std::string>> values;

    enum class Get { Ok, Missing, Duplicate };
    // Looks up a parameter that may appear at most once.
    Get one(const std::string &name, std::string &out) const;
    // A parameter that must appear exactly once; otherwise false, with "Missing parameter: NAME"
    // or "Duplicate parameter: NAME" in `error`.
    bool required(const char *name, std::string &out, std::string &error) const;
    // A parameter that may be missing (then `out` is empty); false for a repeated one.
    bool optional(const char *name, std::string &out, std::string &error) const;
};
std::optional<Params> parseQuery(std::string_view query, Charset cs);

// Reads a flat JSON object whose values are strings, numbers, booleans or null.
// Numbers and booleans are returned in their literal text form.
std::optional<std::map<std::string, std::string>> parseFlatJsonObject(std::string_view json);
// The fields of a vote's body (UTF-8): a flat JSON object when `mime` (lower case) is
// application/json, an HTML form when it is application/x-www-form-urlencoded or empty, with
// every field once. Nothing for other types, malformed bodies and repeated form fields.
std::optional<std::map<std::string, std::string>> parseVoteBody(std::string_view mime, std::string_view body);

// Quotes a UTF-8 string as a JSON string literal.
std::string jsonString(std::string_view utf8);

// A user ID: 1..64 characters of valid UTF-8 without control characters.
bool isValidUserId(std::string_view id);
// The form in which two user IDs are the same to a student who types one from the screen:
// Unicode NFC with full case folding ("MÜLLER", "müller" and "mu\u0308ller" all become "müller",
// "STRASSE" and "Straße" both "strasse"). Empty for invalid UTF-8.
std::string foldUserId(std::string_view utf8);

std::string toLowerAscii(std::string_view s);
std::string trimAscii(std::string_view s);

} // namespace kv::server
