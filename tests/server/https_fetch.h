#pragma once
// One libcurl handle that talks to the poll server as a browser or script would: over https
// (checked against a CA of the caller's) or http, from a loopback address of its own, with
// kept-alive connections. Header only, shared by the tests and the benchmarks behind nginx.

#include <cctype>
#include <curl/curl.h>
#include <map>
#include <string>

namespace kv::test {

struct FetchReply {
    long status = 0;                            // 0: no reply
    long httpVersion = 0;                       // 2 for HTTP/2, 11 for HTTP/1.1
    std::map<std::string, std::string> headers; // names in lower case; a repeated one's last value
    std::string body;
    std::string error;
    std::string header(const std::string &lowerName) const
    {
        const auto it = headers.find(lowerName);
        return it == headers.end() ? std::string() : it->second;
    }
};

class HttpsFetch {
public:
    // `source`: the local address to connect from; `caFile`: the CA that signs the server's
    // certificate (empty for http).
    explicit HttpsFetch(const std::string &source, const std::string &caFile = {}) : m_easy(curl_easy_init())
    {
        curl_easy_setopt(m_easy, CURLOPT_INTERFACE, source.c_str());
        if (!caFile.empty())
            curl_easy_setopt(m_easy, CURLOPT_CAINFO, caFile.c_str());
        curl_easy_setopt(m_easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
        curl_easy_setopt(m_easy, CURLOPT_PROXY, "");
        curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(m_easy, CURLOPT_TIMEOUT_MS, 30000L);
        curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &HttpsFetch::onBody);
        curl_easy_setopt(m_easy, CURLOPT_HEADERFUNCTION, &HttpsFetch::onHeader);
    }
    ~HttpsFetch()
    {
        curl_slist_free_all(m_list);
        curl_easy_cleanup(m_easy);
    }
    HttpsFetch(const HttpsFetch &) = delete;
    HttpsFetch &operator=(const HttpsFetch &) = delete;

    // A GET, or a POST of `json` when it is not empty; `headers` are extra request header lines.
    FetchReply fetch(const std::string &url, const std::string &json = {},
                     std::initializer_list<std::string> headers = {})
    {
        FetchReply r;
        curl_slist_free_all(m_list);
        m_list = nullptr;
        for (const std::string &h : headers)
            m_list = curl_slist_append(m_list, h.c_str());
        if (!json.empty())
            m_list = curl_slist_append(m_list, "Content-Type: application/json");
        if (!cookie.empty())
            m_list = curl_slist_append(m_list, ("Cookie: kv_device=" + cookie).c_str());
        curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_list);
        curl_easy_setopt(m_easy, CURLOPT_URL, url.c_str());
        if (json.empty()) {
            curl_easy_setopt(m_easy, CURLOPT_HTTPGET, 1L);
        } else {
            curl_easy_setopt(m_easy, CURLOPT_POSTFIELDS, json.c_str());
            curl_easy_setopt(m_easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(json.size()));
        }
        curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, &r);
        curl_easy_setopt(m_easy, CURLOPT_HEADERDATA, &r);
        const CURLcode rc = curl_easy_perform(m_easy);
        if (rc != CURLE_OK) {
            r.error = curl_easy_strerror(rc);
            r.status = 0;
            return r;
        }
        curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &r.status);
        curl_easy_getinfo(m_easy, CURLINFO_HTTP_VERSION, &r.httpVersion);
        r.httpVersion = r.httpVersion == CURL_HTTP_VERSION_2_0   ? 2
                        : r.httpVersion == CURL_HTTP_VERSION_1_1 ? 11
                                                                 : 0;
        return r;
    }

    std::string cookie; // the kv_device token sent with each request

private:
    static size_t onBody(char *data, size_t size, size_t n, void *user)
    {
        static_cast<FetchReply *>(user)->body.append(data, size * n);
        return size * n;
    }
    static size_t onHeader(char *data, size_t size, size_t n, void *user)
    {
        std::string line(data, size * n);
        const size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string name = line.substr(0, colon), value = line.substr(colon + 1);
            for (char &c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            const size_t b = value.find_first_not_of(" \t"), e = value.find_last_not_of(" \t\r\n");
            static_cast<FetchReply *>(user)->headers[name] =
                b == std::string::npos ? "" : value.substr(b, e - b + 1);
        }
        return size * n;
    }

    CURL *m_easy;
    curl_slist *m_list = nullptr;
};

} // namespace kv::test
