// The proxy table's rows started as tinyproxy or squid fixtures.
#include "tests/support/proxy_peer.h"

#include <unistd.h>

bool ProxyPeer::start(const ProxyRow& row, uint16_t connect_port, std::string* error) {
    row_ = row;
    if (row.kind == PROXY_TINYPROXY) {
        TinyproxyOptions options;
        if (row.auth == PROXY_AUTH_BASIC) {
            options.user = PROXY_USER;
            options.password = PROXY_PASSWORD;
        }
        options.connect_ports = {connect_port};
        tinyproxy_.reset(new TinyproxyServer);
        return tinyproxy_->start(options, error);
    }
    SquidOptions options;
    options.auth = row.auth == PROXY_AUTH_BASIC    ? SQUID_AUTH_BASIC
                   : row.auth == PROXY_AUTH_DIGEST ? SQUID_AUTH_DIGEST
                                                   : SQUID_AUTH_NONE;
    options.user = PROXY_USER;
    options.password = PROXY_PASSWORD;
    options.connect_ports = {connect_port};
    squid_.reset(new SquidServer);
    return squid_->start(options, error);
}

uint16_t ProxyPeer::port() const {
    if (tinyproxy_) {
        return tinyproxy_->port();
    }
    return squid_ ? squid_->port() : 0;
}

std::string ProxyPeer::url(const char* password) const {
    std::string credentials;
    if (row_.auth != PROXY_AUTH_NONE) {
        credentials = std::string(PROXY_USER) + ":" + password + "@";
    }
    return "http://" + credentials + "127.0.0.1:" + std::to_string(port());
}

std::string ProxyPeer::curl_options(const char* password) const {
    std::string options = "-x http://127.0.0.1:" + std::to_string(port());
    if (row_.auth == PROXY_AUTH_BASIC) {
        options += std::string(" --proxy-basic --proxy-user ") + PROXY_USER + ":" + password;
    } else if (row_.auth == PROXY_AUTH_DIGEST) {
        options += std::string(" --proxy-digest --proxy-user ") + PROXY_USER + ":" + password;
    }
    return options;
}

size_t ProxyPeer::forwarded(const std::string& target) const {
    std::string log;
    if (tinyproxy_) {
        log = tinyproxy_->log();
    } else if (squid_) {
        log = squid_->access_log();
    }
    size_t count = 0;
    size_t at = 0;
    while (at < log.size()) {
        size_t end = log.find('\n', at);
        if (end == std::string::npos) {
            end = log.size();
        }
        std::string line = log.substr(at, end - at);
        at = end + 1;
        // tinyproxy logs each connection it opens; squid one line per
        // request, naming the peer it went to (HIER_NONE when refused).
        bool opened = tinyproxy_
                          ? line.find("opening connection to " + target) != std::string::npos
                          : line.find(" HIER_DIRECT/") != std::string::npos &&
                                (line.find(" CONNECT " + target + " ") != std::string::npos ||
                                 line.find("://" + target + "/") != std::string::npos);
        if (opened) {
            count++;
        }
    }
    return count;
}

bool ProxyPeer::forwarded_more(const std::string& target, size_t before) const {
    for (int waited = 0; waited < 2000; waited += 20) {
        if (forwarded(target) > before) {
            return true;
        }
        usleep(20 * 1000);
    }
    return false;
}

std::string proxy_curl_status(const std::string& url, const std::string& options,
                              bool connect_status) {
    std::string format = connect_status ? "%{http_connect}" : "%{http_code}";
    return test_run_capture(
        "/usr/bin/curl -s -k -o /dev/null -w '" + format + "' " + options + " " + url, nullptr);
}
