// The audience's side of the server: the page at "/" and its JSON API (/api/poll, /api/vote), and
// /api/join, which tells the lecturer's client where the audience votes. Values are UTF-8, except
// the ID /api/join takes, which comes as the client sends it to the scripts (Windows-1252). Every
// reply hands out a device token (the kv_device cookie) when the request has no genuine one.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "server/src/accounts.h"
#include "server/src/device_tokens.h"
#include "server/src/http_request.h"
#include "server/src/polls.h"

namespace kv::server {

// The base of the audience's links: `publicUrl` when given, else "http://HOST:PORT/" with the
// bind address, or `lanAddress()` for a server that listens on every address.
std::string audienceBase(const std::string &publicUrl, const std::string &bindAddress, uint16_t port,
                         const std::function<std::string()> &lanAddress);

class AudienceApi {
public:
    // The link the audience of a user ID opens (see PollServer::audienceLink).
    using AudienceLink = std::function<std::string(const std::string &id)>;

    AudienceApi(const Polls &polls, const Accounts &accounts, const DeviceTokens &tokens,
                int64_t voteIntervalMs, AudienceLink link)
        : m_polls(polls), m_accounts(accounts), m_tokens(tokens), m_voteIntervalMs(voteIntervalMs),
          m_link(std::move(link))
    {}

    // The routes' handlers (see RequestHandler).
    bool page(RequestContext &ctx);
    bool poll(RequestContext &ctx);
    bool vote(RequestContext &ctx);
    bool join(RequestContext &ctx);

private:
    // The vote of a request's fields; `recheck` when the request is suspended already, after the
    // account's poll was read again from a shared database. True when the reply is ready.
    bool placeVote(RequestContext &ctx, std::map<std::string, std::string> fields, const std::string &device,
                   bool recheck);
    // The device the request comes from: the one its genuine token names, else its address (and
    // the reply hands out a token).
    std::string deviceOf(RequestContext &ctx);

    const Polls &m_polls;
    const Accounts &m_accounts;
    const DeviceTokens &m_tokens;
    int64_t m_voteIntervalMs;
    AudienceLink m_link;
};

} // namespace kv::server
