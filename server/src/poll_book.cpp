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
            it->second.committed.devices[d.device] = DeviceState{d.pollId, d.lastVoteMs, d.answer, d.votes};
    }
    for (auto &[id, a] : m_accounts)
        a.current = a.committed;
    indexIds();
}

std::vector<std::string> PollBook::users() const
{
    std::vector<std::string> out;
    for (const auto &[id, a] : m_accounts)
        out.push_back(id);
    return out;
}

void PollBook::indexIds()
{
    m_folded.clear();
    for (const auto &[id, a] : m_accounts) {
        const auto [it, added] = m_folded.emplace(foldUserId(id), id);
        if (!added)
            it->second.clear();
    }
}

void PollBook::addAccount(const std::string &user)
{
    if (m_accounts.emplace(user, Account{}).second)
        indexIds();
}

void PollBook::removeAccount(const std::string &user)
{
    if (m_accounts.erase(user))
        indexIds();
}

std::optional<std::string> PollBook::findAccount(std::string_view typed) const
{
    const std::string exact(typed);
    if (m_accounts.count(exact))
        return exact;
    const std::string key = foldUserId(typed);
    const auto it = key.empty() ? m_folded.end() : m_folded.find(key);
    if (it == m_folded.end() || it->second.empty())
        return std::nullopt;
    return it->second;
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

std::optional<PollView> PollBook::view(std::string_view typed, const std::string &device, int64_t nowMs) const
{
    const auto user = findAccount(typed);
    if (!user)
        return std::nullopt;
    const Account &a = m_accounts.at(*user);
    const PollState *s = &a.current;
    PollView v;
    v.user = *user;
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
    const auto stored = a.committed.devices.find(device);
    if (a.committed.open && a.committed.pollId == s->pollId && stored != a.committed.devices.end()
        && stored->second.pollId == s->pollId && stored->second.votes > 0) {
        v.votes = stored->second.votes;
        if (stored->second.answer >= 0 && stored->second.answer < static_cast<int>(v.answers.size()))
            v.answer = v.answers[static_cast<size_t>(stored->second.answer)];
    }
    return v;
}

VoteDecision PollBook::vote(std::string_view typedUser, std::string_view answer, std::string_view code,
                            const std::string &device, int64_t nowMs)
{
    VoteDecision r;
    const auto user = findAccount(typedUser);
    if (!user)
        return r; // Unknown
    const auto it = m_accounts.find(*user);
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
    r.change.user = *user;
    r.change.pollId = s.pollId;
    r.change.answer = index;
    r.change.device = device;
    r.change.nowMs = nowMs;
    apply(s, r.change);
    r.votes = s.devices[device].votes;
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
    case Change::Kind::Refresh:
        return true;
    case Change::Kind::Vote:
        if (!s.open || s.pollId != c.pollId || c.answer < 0 || c.answer >= kMaxAnswers)
            return false;
        ++s.counts[static_cast<size_t>(c.answer)];
        {
            DeviceState &d = s.devices[c.device];
            d.votes = d.pollId == c.pollId ? d.votes + 1 : 1;
            d.pollId = c.pollId;
            d.lastVoteMs = c.nowMs;
            d.answer = c.answer;
        }
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

void PollBook::refresh(const std::string &user, const std::optional<PollRecord> &stored,
                       const std::optional<DeviceRecord> &device)
{
    const auto it = m_accounts.find(user);
    if (it == m_accounts.end())
        return;
    PollState &s = it->second.committed;
    if (!stored) {
        s.open = false;
        return;
    }
    if (stored->pollId != s.pollId)
        s.devices.clear();
    s.pollId = stored->pollId;
    s.open = stored->open;
    s.layout = stored->layout;
    s.code = stored->code;
    s.oneVote = stored->oneVote;
    s.counts = stored->counts;
    if (device && device->pollId == s.pollId)
        s.devices[device->device] =
            DeviceState{device->pollId, device->lastVoteMs, device->answer, device->votes};
}

void PollBook::storedPoll(const std::string &user, const std::optional<PollRecord> &stored)
{
    const auto it = m_accounts.find(user);
    if (it == m_accounts.end())
        return;
    PollState &s = it->second.committed;
    if (s.open && (!stored || !stored->open || stored->pollId != s.pollId))
        s.open = false;
}

} // namespace kv::server
