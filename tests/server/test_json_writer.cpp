// The JSON writer of the audience API: members in order, no blanks, names and strings escaped
// (quotes, backslashes, control characters, "<"), UTF-8 kept as it is.
#include <gtest/gtest.h>
#include <limits>

#include "server/src/json_writer.h"
#include "server/src/text.h"

using kv::server::JsonObject;

namespace {

TEST(JsonWriter, WritesObjectsAsThePageReadsThem)
{
    const std::pair<JsonObject, std::string> cases[] = {
        {JsonObject(), "{}"},
        {JsonObject().addBool("ok", true).addText("id", "demo").addBool("open", false),
         R"({"ok":true,"id":"demo","open":false})"},
        {JsonObject().addNumber("pollId", 7).addNumber("waitSeconds", 0).addNumber("n", -12),
         R"({"pollId":7,"waitSeconds":0,"n":-12})"},
        {JsonObject().addNumber("max", std::numeric_limits<int64_t>::max()),
         R"({"max":9223372036854775807})"},
        {JsonObject().addTextArray("answers", {"A", "B"}).addTextArray("none", {}),
         R"({"answers":["A","B"],"none":[]})"},
        {JsonObject().addText("message", "Ihre Stimme wurde gezählt."),
         R"({"message":"Ihre Stimme wurde gezählt."})"},
        {JsonObject().addText("a\"b", "x\\y\n\r\t\x01\x1f</script>"),
         R"({"a\"b":"x\\y\n\r\t\u0001\u001f\u003c/script>"})"},
        {JsonObject().addTextArray("ids", {"\"", "<", ""}), R"({"ids":["\"","\u003c",""]})"},
        {JsonObject().addText("", ""), R"({"":""})"},
    };
    for (const auto &[object, json] : cases) {
        EXPECT_EQ(object.str(), json);
        // What the writer writes, the server's own reader reads back (for flat objects).
        if (json.find('[') == std::string::npos) {
            EXPECT_TRUE(kv::server::parseFlatJsonObject(object.str()).has_value()) << json;
        }
    }
}

} // namespace
