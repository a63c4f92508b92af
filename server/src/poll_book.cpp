#include "server/src/poll_book.h"

#include <algorithm>

#include "server/src/text.h"

namespace kv::server {

namespace {

// Session codes are typed on phones: surrounding blanks and letter case do not matter.
std::string normalizeCode(std::string_view code)
{
    return toLowerAscii(trimAscii(code));
}

} // namespace

bool validLayout(int layout)
{
    return (layout >= 2 && layout <= 5) || layout == 9;
}

std::vector<std::string> answerNames(int layout)
{
    if (layout == 9)
        return {"Ja", "Nein"};
    std::vector<std::string> out;
    for (int i = 0; i < layout && i < kMaxAnswers; ++i)
        out.emplace_back(1, static_cast<char>('A' + i));
    return out;
}

PollBook::PollBook(int64_t voteIntervalMs) : m_voteIntervalMs(voteIntervalMs) {}

void PollBook::load(const std::vector<UserRecord> &users, const std::vector<PollRecord> &polls,
                    const std::vector<DeviceRecord> &devices)
{
    m_accounts.clear();
    for (const auto &u : users)
        m_accounts[u.id];
    for (const auto &p : polls) {
        const auto it = m_accounts.find(p.user);
        if (it == m_accounts.end())
            continue;
        PollState &s = it->second.committed;
        s.pollId = p.pollId;
        s.open = p.open;
        s.layout = p.layout;
        s.code = p.code;
        s.oneVote = p.oneVote;
        s.counts = p.counts;
    }
    for (const auto &d : devices) {
        const auto it = m_accounts.find(d.user);
        if (it != m_accounts.end())
            it->second.committed.devices[d.device] = DeviceState{d.pollId, d.lastVoteMs};
    }
    for (auto &[id, a] : m_accounts)
        a.current = a.committed;
}

const PollState *PollBook::current(const std::string &user) const
{
    const auto it = m_accounts.find(user);
    return it == m_accounts.end() ? nullptr : &it->second.current;
}

const PollState *PollBook::committed(const std::string &user) const
{
    const auto it = m_accounts.find(user);
    return it == m_accounts.end() ? nullptr : &it->second.committed;
}

std::optional<std::array<int64_t, kMaxAnswers>> PollBook::counts(const std::string &user) const
{
    const PollState *s = committed(user);
    if (!s)
        return std::nullopt;
    return s->counts;
}

std::optional<PollView> PollBook::view(const std::string &user, const std::string &device,
                                       int64_t nowMs) const
{
    const PollState *s = current(user);
    if (!s)
        return std::nullopt;
    PollView v;
    v.open = s->open;
    if (!s->open)
        return v;
    v.pollId = s->pollId;
    v.layout = s->layout;
    v.answers = answerNames(s->layout);
    v.needsCode = !s->code.empty();
    v.oneVote = s->oneVote;
    const auto d = s->devices.find(device);
    if (d != s->devices.end() && d->second.pollId == s->pollId) {
        if (s->oneVote)
            v.voted = true;
        else
            v.waitMs = std::max<int64_t>(0, d->second.lastVoteMs + m_voteIntervalMs - nowMs);
    }
    return v;
}

VoteDecision PollBook::vote(const std::string &user, std::string_view answer, std::string_view code,
                            const std::string &device, int64_t nowMs)
{
    VoteDecision r;
    const auto it = m_accounts.find(user);
    if (it == m_accounts.end())
        return r; // Unknown
    PollState &s = it->second.current;
    if (!s.open) {
        r.result = VoteResult::Closed;
        return r;
    }
    // The answer is given by name ("A", "Ja") or by position ("0").
    const auto names = answerNames(s.layout);
    const std::string given = toLowerAscii(trimAscii(answer));
    int index = -1;
    for (size_t i = 0; i < names.size(); ++i)
        if (given == toLowerAscii(names[i]))
            index = static_cast<int>(i);
    if (index < 0 && given.size() == 1 && given[0] >= '0' && given[0] - '0' < static_cast<int>(names.size()))
        index = given[0] - '0';
    if (index < 0) {
        r.result = VoteResult::NoSuchAnswer;
        return r;
    }
    const std::string typed = normalizeCode(code);
    if (!s.code.empty() && typed != normalizeCode(s.code)) {
        r.result = typed.empty() ? VoteResult::CodeMissing : VoteResult::CodeWrong;
        return r;
    }
    const auto d = s.devices.find(device);
    if (d != s.devices.end() && d->second.pollId == s.pollId) {
        if (s.oneVote) {
            r.result = VoteResult::Already;
            return r;
        }
        const int64_t left = d->second.lastVoteMs + m_voteIntervalMs - nowMs;
        if (left > 0) {
            r.result = VoteResult::Wait;
            r.waitMs = left;
            return r;
        }
    }
    r.result = VoteResult::Accepted;
    r.answerName = names[static_cast<size_t>(index)];
    r.change.kind = Change::Kind::Vote;
    r.change.user = user;
    r.change.pollId = s.pollId;
    r.change.answer = index;
    r.change.device = device;
    r.change.nowMs = nowMs;
    apply(s, r.change);
    return r;
}

std::optional<Change> PollBook::open(const std::string &user, int layout, const std::string &code,
                                     bool oneVote)
{
    const auto it = m_accounts.find(user);
    if (it == m_accounts.end() || !validLayout(layout))
        return std::nullopt;
    Change c;
    c.kind = Change::Kind::Open;
    c.user = user;
    c.pollId = it->second.current.pollId + 1;
    c.layout = layout;
    c.code = code;
    c.oneVote = oneVote;
    apply(it->second.current, c);
    return c;
}

std::optional<Change> PollBook::close(const std::string &user)
{
    const auto it = m_accounts.find(user);
    if (it == m_accounts.end())
        return std::nullopt;
    Change c;
    c.kind = Change::Kind::Close;
    c.user = user;
    apply(it->second.current, c);
    return c;
}

bool PollBook::apply(PollState &s, const Change &c)
{
    switch (c.kind) {
    case Change::Kind::Open:
        s.pollId = c.pollId;
        s.open = true;
        s.layout = c.layout;
        s.code = c.code;
        s.oneVote = c.oneVote;
        s.counts = {};
        s.devices.clear();
        return true;
    case Change::Kind::Close:
        s.open = false;
        return true;
    case Change::Kind::Vote:
        if (!s.open || s.pollId != c.pollId || c.answer < 0 || c.answer >= kMaxAnswers)
            return false;
        ++s.counts[static_cast<size_t>(c.answer)];
        s.devices[c.device] = DeviceState{c.pollId, c.nowMs};
        return true;
    }
    return false;
}

void PollBook::commit(const std::vector<Change> &batch)
{
    for (const Change &c : batch) {
        const auto it = m_accounts.find(c.user);
        if (it != m_accounts.end())
            apply(it->second.committed, c);
    }
}

std::vector<bool> PollBook::fail(const std::vector<const Change *> &pending)
{
    for (auto &[id, a] : m_accounts)
        a.current = a.committed;
    std::vector<bool> holds;
    holds.reserve(pending.size());
    for (const Change *c : pending) {
        const auto it = m_accounts.find(c->user);
        holds.push_back(it != m_accounts.end() && apply(it->second.current, *c));
    }
    return holds;
}

} // namespace kv::server
