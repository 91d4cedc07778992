// The real proxies the tests go through, as one table: tinyproxy and squid,
// without authentication and asking for Basic or (squid only, as tinyproxy
// has none) Digest, all with user "ann" and password "secret".
//
//   ProxyPeer proxy;
//   ASSERT_TRUE(proxy.start(PROXY_ROWS[0], nginx.https_port(), &error)) << error;
//   curl ... + proxy.curl_options("secret");
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <ostream>
#include <string>

#include "tests/support/servers.h"

constexpr const char PROXY_USER[] = "ann";
constexpr const char PROXY_PASSWORD[] = "secret";

enum ProxyKind { PROXY_TINYPROXY, PROXY_SQUID };
enum ProxyAuth { PROXY_AUTH_NONE, PROXY_AUTH_BASIC, PROXY_AUTH_DIGEST };

struct ProxyRow {
    const char* name;  // a test-name suffix
    ProxyKind kind;
    ProxyAuth auth;
};

// Test output names the row.
inline void PrintTo(const ProxyRow& row, std::ostream* out) {
    *out << row.name;
}

constexpr ProxyRow PROXY_ROWS[] = {
    {"TinyproxyPlain", PROXY_TINYPROXY, PROXY_AUTH_NONE},
    {"TinyproxyBasic", PROXY_TINYPROXY, PROXY_AUTH_BASIC},
    {"SquidPlain", PROXY_SQUID, PROXY_AUTH_NONE},
    {"SquidBasic", PROXY_SQUID, PROXY_AUTH_BASIC},
    {"SquidDigest", PROXY_SQUID, PROXY_AUTH_DIGEST},
};

// One row's proxy on a loopback port, CONNECT allowed to connect_port only;
// stopped by the destructor.
class ProxyPeer {
  public:
    // False with *error when the proxy does not start.
    bool start(const ProxyRow& row, uint16_t connect_port, std::string* error);
    const ProxyRow& row() const { return row_; }
    uint16_t port() const;
    // "http://127.0.0.1:PORT", with "user:password@" for rows with
    // authentication: the proxy as a proxy variable names it.
    std::string url(const char* password = PROXY_PASSWORD) const;
    // curl's options for this proxy, its scheme and the password.
    std::string curl_options(const char* password = PROXY_PASSWORD) const;
    // How many connections the proxy opened to target ("127.0.0.1:PORT"),
    // for a CONNECT tunnel or a forwarded request; refused requests count
    // none.
    size_t forwarded(const std::string& target) const;
    // Whether that count rises above before within two seconds (squid
    // logs a request once it has ended).
    bool forwarded_more(const std::string& target, size_t before) const;

  private:
    ProxyRow row_{};
    std::unique_ptr<TinyproxyServer> tinyproxy_;
    std::unique_ptr<SquidServer> squid_;
};

// The status curl got for url with options: of the final response, or with
// connect_status of the proxy's answer to the CONNECT ("000": none).
std::string proxy_curl_status(const std::string& url, const std::string& options,
                              bool connect_status = false);
