// A vote of the audience as the server handles it: the body is read as JSON or as an HTML form
// (the first byte chooses, and also the open poll's layout and code), and the fields go to the
// poll book's rules, as the vote handler passes them on. Each accepted vote is committed, so the
// device records grow as they would in a lecture.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "server/src/poll_book.h"
#include "server/src/text.h"

namespace {

constexpr int kLayouts[] = {2, 3, 4, 5, 9};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace kv::server;
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    const std::string_view body(reinterpret_cast<const char *>(data + 1), size - 1);

    const auto parsed =
        parseVoteBody((mode & 1) ? "application/json" : "application/x-www-form-urlencoded", body);
    if (!parsed || !parsed->count("id") || !parsed->count("answer"))
        return 0;
    std::map<std::string, std::string> fields = *parsed;

    PollBook book(10000);
    book.load({{"demo", "hash"}}, {}, {});
    const int layout = kLayouts[(mode >> 1) % 5];
    const std::string code = (mode & 0x10) ? "1234" : "";
    if (!book.open("demo", layout, code, (mode & 0x20) != 0))
        __builtin_trap();
    int64_t now = 1'700'000'000'000;
    for (int round = 0; round < 3; ++round, now += 20000) {
        VoteDecision d = book.vote(fields["id"], fields["answer"], fields["code"], "geraet", now);
        if (d.result == VoteResult::Accepted) {
            book.commit({d.change});
            (void)jsonString(d.answerName);
        }
        (void)book.view(fields["id"], "geraet", now);
    }
    if (const auto counts = book.counts("demo")) {
        int64_t total = 0;
        for (int64_t c : *counts)
            total += c;
        if (total < 0 || total > 3)
            __builtin_trap();
    }
    return 0;
}
