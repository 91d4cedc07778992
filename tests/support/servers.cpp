// Test server fixtures: configuration files written into a fresh folder,
// the server run in the foreground as a child of the test, stopped by pid.
#include "tests/support/servers.h"

#include <arpa/inet.h>
#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>

#ifndef CORVANE_TEST_SUPPORT_DIR
#error "CORVANE_TEST_SUPPORT_DIR names the folder of fault_server.py"
#endif

extern char** environ;

namespace {

const char kNginx[] = "/usr/sbin/nginx";
const char kApache[] = "/usr/sbin/apache2";
const char kApacheModules[] = "/usr/lib/apache2/modules";
const char kTinyproxy[] = "/usr/bin/tinyproxy";
const char kPython[] = "/usr/bin/python3";
const char kOpenssl[] = "/usr/bin/openssl";
const char kCurl[] = "/usr/bin/curl";
const char kSquid[] = "/usr/sbin/squid";
const char kSquidHelpers[] = "/usr/lib/squid";

constexpr int kStartTimeoutMs = 10000;

bool require_binary(const char* path, std::string* error) {
    if (access(path, X_OK) == 0) {
        return true;
    }
    *error = std::string("required program missing: ") + path +
             " (install it: nginx, apache2, tinyproxy, squid, curl, openssl, python3)";
    return false;
}

bool is_root() {
    return geteuid() == 0;
}

std::string port_text(uint16_t port) {
    return std::to_string(static_cast<unsigned>(port));
}

std::string log_tail(const std::string& path) {
    std::string text;
    test_read_file(path, &text);
    if (text.size() > 2000) {
        text = text.substr(text.size() - 2000);
    }
    return text;
}

bool connects(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

// Quotes a word for /bin/sh.
std::string shell_quote(const std::string& word);

// MD5 from openssl, a reference independent of the client's own MD5 (and
// of the TLS library, which is built without it). Empty when openssl fails.
std::string md5_hex(const std::string& text) {
    std::string command = "printf '%s' " + shell_quote(text) + " | openssl md5 -r";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return "";
    }
    char line[128] = {};
    bool read = fgets(line, sizeof line, pipe) != nullptr;
    bool ok = pclose(pipe) == 0 && read && strlen(line) > 32 && line[32] == ' ';
    return ok ? std::string(line, 32) : "";
}

// Quotes a word for /bin/sh.
std::string shell_quote(const std::string& word) {
    std::string out = "'";
    for (char c : word) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

// An Apache-style MD5 password hash ("$apr1$..."), as htpasswd makes; false
// with *error when openssl fails.
bool apr1_hash(const std::string& password, std::string* hash, std::string* error) {
    int code = 0;
    *hash =
        test_run_capture(std::string(kOpenssl) + " passwd -apr1 " + shell_quote(password), &code);
    while (!hash->empty() && (hash->back() == '\n' || hash->back() == '\r')) {
        hash->pop_back();
    }
    if (code != 0 || hash->empty()) {
        *error = "openssl passwd failed";
        return false;
    }
    return true;
}

}  // namespace

// ---- Files, ports, commands -------------------------------------------------

TestTempDir::TestTempDir() {
    char pattern[] = "/tmp/corvane-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made != nullptr) {
        path_ = made;
        // Servers that drop to another user (Apache, tinyproxy as root)
        // must still read their configuration and pages.
        chmod(made, 0755);
    }
}

TestTempDir::~TestTempDir() {
    if (path_.empty()) {
        return;
    }
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

uint16_t test_free_port(void) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    uint16_t port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

bool test_write_file(const std::string& path, const std::string& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}

bool test_read_file(const std::string& path, std::string* bytes) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    bytes->clear();
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes->append(buffer, n);
    }
    fclose(file);
    return true;
}

std::string test_run_capture(const std::string& command, int* exit_code) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        if (exit_code != nullptr) {
            *exit_code = -1;
        }
        return out;
    }
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    int status = pclose(pipe);
    if (exit_code != nullptr) {
        *exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return out;
}

std::string test_curl_body(const std::string& url, const std::string& extra_arguments) {
    std::string command = std::string(kCurl) + " -s ";
    if (url.compare(0, 8, "https://") == 0) {
        command += "-k ";
    }
    command += extra_arguments + " " + shell_quote(url);
    return test_run_capture(command, nullptr);
}

bool test_make_certificate(const std::string& cert_path, const std::string& key_path, bool expired,
                           std::string* error) {
    if (!require_binary(kOpenssl, error)) {
        return false;
    }
    std::string base = std::string(kOpenssl) +
                       " req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
                       " -subj /CN=localhost -days 30 -keyout " +
                       shell_quote(key_path) + " -out " + shell_quote(cert_path) + " 2>&1";
    int code = 0;
    std::string output = test_run_capture(base, &code);
    if (code != 0) {
        *error = "openssl req failed: " + output;
        return false;
    }
    if (expired) {
        // Re-signed with a validity that ends a day before it starts.
        std::string resign = std::string(kOpenssl) + " x509 -in " + shell_quote(cert_path) +
                             " -signkey " + shell_quote(key_path) + " -days -1 -out " +
                             shell_quote(cert_path + ".expired") + " 2>&1";
        output = test_run_capture(resign, &code);
        if (code != 0 || rename((cert_path + ".expired").c_str(), cert_path.c_str()) != 0) {
            *error = "openssl x509 failed: " + output;
            return false;
        }
    }
    chmod(key_path.c_str(), 0644);
    return true;
}

// ---- Processes ----------------------------------------------------------------

bool TestProcess::start(const std::vector<std::string>& argv, const std::string& log_path,
                        std::string* error, bool own_group) {
    stop();
    if (!require_binary(argv[0].c_str(), error)) {
        return false;
    }
    log_path_ = log_path;
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (own_group) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        *error = "cannot start " + argv[0] + ": " + strerror(rc);
        return false;
    }
    pid_ = pid;
    own_group_ = own_group;
    return true;
}

bool TestProcess::wait_for_port(uint16_t port, int timeout_ms, std::string* error) {
    for (int waited = 0; waited < timeout_ms; waited += 20) {
        if (connects(port)) {
            return true;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            *error = "server ended at start-up; its log:\n" + log_tail(log_path_);
            return false;
        }
        usleep(20 * 1000);
    }
    *error =
        "server did not listen on port " + port_text(port) + "; its log:\n" + log_tail(log_path_);
    stop();
    return false;
}

void TestProcess::stop() {
    if (pid_ <= 0) {
        return;
    }
    int status = 0;
    if (own_group_) {
        // A server with helpers, keeping nothing the tests need: killed at
        // once, as a graceful end takes seconds. Until the leader is reaped
        // below, the group's id cannot be reused.
        kill(-pid_, SIGKILL);
    } else {
        kill(pid_, SIGTERM);
        for (int waited = 0; waited < 5000; waited += 10) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            usleep(10 * 1000);
        }
        kill(pid_, SIGKILL);
    }
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

// ---- nginx --------------------------------------------------------------------

bool NginxServer::start(const NginxOptions& options, std::string* error) {
    if (!require_binary(kNginx, error)) {
        return false;
    }
    const std::string& dir = dir_.path();
    if (dir.empty()) {
        *error = "no temporary folder";
        return false;
    }
    std::string conf;
    // As root the workers would become "nobody" and lose the test's folders.
    if (is_root()) {
        conf += "user root;\n";
    }
    conf += "worker_processes 1;\ndaemon off;\nmaster_process on;\n";
    conf += "pid " + dir + "/nginx.pid;\nerror_log " + dir + "/error.log warn;\n";
    conf += "events { worker_connections 128; }\nhttp {\n  access_log off;\n";
    for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
        conf += std::string("  ") + temp + "_temp_path " + dir + "/" + temp + "_temp;\n";
    }
    conf += "  types { text/html html; text/xml xml; text/plain txt; }\n";
    conf += "  default_type application/octet-stream;\n  sendfile on;\n";
    conf += options.http_config + "\n";
    std::string server_body = "    server_name localhost;\n    root " + options.root + ";\n" +
                              options.server_config + "\n";
    http_port_ = 0;
    https_port_ = 0;
    if (options.http) {
        http_port_ = test_free_port();
        conf += "  server {\n    listen 127.0.0.1:" + port_text(http_port_) + ";\n" + server_body +
                "  }\n";
    }
    if (options.https) {
        std::string cert = dir + "/cert.pem";
        std::string key = dir + "/key.pem";
        if (!test_make_certificate(cert, key, options.expired_cert, error)) {
            return false;
        }
        https_port_ = test_free_port();
        conf += "  server {\n    listen 127.0.0.1:" + port_text(https_port_) + " ssl;\n" +
                "    ssl_certificate " + cert + ";\n    ssl_certificate_key " + key + ";\n" +
                server_body + "  }\n";
    }
    conf += "}\n";
    std::string conf_path = dir + "/nginx.conf";
    if (!test_write_file(conf_path, conf)) {
        *error = "cannot write " + conf_path;
        return false;
    }
    if (!process_.start({kNginx, "-p", dir, "-e", dir + "/error.log", "-c", conf_path},
                        dir + "/stdout.log", error)) {
        return false;
    }
    if (http_port_ != 0 && !process_.wait_for_port(http_port_, kStartTimeoutMs, error)) {
        return false;
    }
    if (https_port_ != 0 && !process_.wait_for_port(https_port_, kStartTimeoutMs, error)) {
        return false;
    }
    return true;
}

void NginxServer::stop() {
    process_.stop();
}

std::string NginxServer::http_url(const std::string& path) const {
    return "http://127.0.0.1:" + port_text(http_port_) + path;
}

std::string NginxServer::https_url(const std::string& path) const {
    return "https://127.0.0.1:" + port_text(https_port_) + path;
}

// ---- Apache httpd -----------------------------------------------------------

bool ApacheServer::start(const ApacheOptions& options, std::string* error) {
    if (!require_binary(kApache, error) || !require_binary(kOpenssl, error)) {
        return false;
    }
    const std::string& dir = dir_.path();
    const std::string realm = "corvane";
    std::string hash;
    if (!apr1_hash(options.password, &hash, error)) {
        return false;
    }
    if (!test_write_file(dir + "/basic.pw", options.user + ":" + hash + "\n") ||
        !test_write_file(dir + "/digest.pw",
                         options.user + ":" + realm + ":" +
                             md5_hex(options.user + ":" + realm + ":" + options.password) + "\n")) {
        *error = "cannot write password files";
        return false;
    }
    port_ = test_free_port();
    std::string conf;
    conf += "ServerRoot " + dir + "\nListen 127.0.0.1:" + port_text(port_) + "\n";
    conf += "PidFile " + dir + "/httpd.pid\nErrorLog " + dir + "/error.log\nLogLevel warn\n";
    conf += "DefaultRuntimeDir " + dir + "\nMutex file:" + dir + " default\n";
    conf += "ServerName localhost\n";
    for (const char* module : {"mpm_event", "authn_core", "authn_file", "authz_core", "authz_user",
                               "auth_basic", "auth_digest"}) {
        conf += std::string("LoadModule ") + module + "_module " + kApacheModules + "/mod_" +
                module + ".so\n";
    }
    // Apache will not serve as root; as root its children become nobody.
    if (is_root()) {
        conf += "User nobody\nGroup nogroup\n";
    }
    conf += "DocumentRoot " + options.root + "\n";
    conf += "<Directory />\n  Require all granted\n</Directory>\n";
    conf += "<Location /basic/>\n  AuthType Basic\n  AuthName " + realm +
            "\n  AuthBasicProvider file\n  AuthUserFile " + dir +
            "/basic.pw\n  Require valid-user\n</Location>\n";
    conf += "<Location /digest/>\n  AuthType Digest\n  AuthName " + realm +
            "\n  AuthDigestDomain /digest/\n  AuthDigestProvider file\n  AuthUserFile " + dir +
            "/digest.pw\n  AuthDigestAlgorithm MD5\n  AuthDigestQop auth\n"
            "  Require valid-user\n</Location>\n";
    std::string conf_path = dir + "/httpd.conf";
    if (!test_write_file(conf_path, conf)) {
        *error = "cannot write " + conf_path;
        return false;
    }
    if (!process_.start({kApache, "-f", conf_path, "-DFOREGROUND"}, dir + "/stdout.log", error)) {
        return false;
    }
    return process_.wait_for_port(port_, kStartTimeoutMs, error);
}

void ApacheServer::stop() {
    process_.stop();
}

std::string ApacheServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + port_text(port_) + path;
}

// ---- tinyproxy ----------------------------------------------------------------

bool TinyproxyServer::start(const std::string& user, const std::string& password,
                            std::string* error) {
    TinyproxyOptions options;
    options.user = user;
    options.password = password;
    return start(options, error);
}

bool TinyproxyServer::start(const TinyproxyOptions& options, std::string* error) {
    if (!require_binary(kTinyproxy, error)) {
        return false;
    }
    const std::string& dir = dir_.path();
    port_ = test_free_port();
    std::string conf;
    if (is_root()) {
        conf += "User nobody\nGroup nogroup\n";
    }
    conf += "Port " + port_text(port_) + "\nListen 127.0.0.1\nTimeout 30\n";
    conf += "PidFile \"" + dir + "/tinyproxy.pid\"\nLogFile \"" + dir + "/tinyproxy.log\"\n";
    conf += "LogLevel Info\nMaxClients 16\nAllow 127.0.0.1\nDisableViaHeader Yes\n";
    if (!options.user.empty()) {
        conf += "BasicAuth " + options.user + " " + options.password + "\n";
    }
    for (uint16_t port : options.connect_ports) {
        conf += "ConnectPort " + port_text(port) + "\n";
    }
    std::string conf_path = dir + "/tinyproxy.conf";
    if (!test_write_file(conf_path, conf)) {
        *error = "cannot write " + conf_path;
        return false;
    }
    // The log file must be writable after tinyproxy dropped to nobody.
    test_write_file(dir + "/tinyproxy.log", "");
    chmod((dir + "/tinyproxy.log").c_str(), 0666);
    chmod(dir.c_str(), 0777);
    if (!process_.start({kTinyproxy, "-d", "-c", conf_path}, dir + "/stdout.log", error)) {
        return false;
    }
    return process_.wait_for_port(port_, kStartTimeoutMs, error);
}

void TinyproxyServer::stop() {
    process_.stop();
}

std::string TinyproxyServer::log() const {
    std::string text;
    test_read_file(dir_.path() + "/tinyproxy.log", &text);
    return text;
}

// ---- squid ----------------------------------------------------------------------

bool SquidServer::start(const SquidOptions& options, std::string* error) {
    if (!require_binary(kSquid, error)) {
        return false;
    }
    const std::string& dir = dir_.path();
    const std::string realm = "corvane";
    std::string conf;
    if (options.auth == SQUID_AUTH_BASIC) {
        std::string hash;
        std::string helper = std::string(kSquidHelpers) + "/basic_ncsa_auth";
        if (!require_binary(helper.c_str(), error) || !apr1_hash(options.password, &hash, error) ||
            !test_write_file(dir + "/basic.pw", options.user + ":" + hash + "\n")) {
            return false;
        }
        conf += "auth_param basic program " + helper + " " + dir + "/basic.pw\n";
        conf += "auth_param basic realm " + realm + "\nauth_param basic children 1\n";
    } else if (options.auth == SQUID_AUTH_DIGEST) {
        // "-c": the file holds user:realm:HA1 rather than plain passwords.
        std::string helper = std::string(kSquidHelpers) + "/digest_file_auth";
        std::string ha1 = md5_hex(options.user + ":" + realm + ":" + options.password);
        if (!require_binary(helper.c_str(), error) ||
            !test_write_file(dir + "/digest.pw", options.user + ":" + realm + ":" + ha1 + "\n")) {
            return false;
        }
        conf += "auth_param digest program " + helper + " -c " + dir + "/digest.pw\n";
        conf += "auth_param digest realm " + realm + "\nauth_param digest children 1\n";
    }
    port_ = test_free_port();
    conf += "http_port 127.0.0.1:" + port_text(port_) + "\n";
    // Squid refuses to keep running as root; its files must stay writable
    // after it changed user.
    if (is_root()) {
        conf += "cache_effective_user proxy\n";
        chmod(dir.c_str(), 0777);
    }
    conf += "pid_filename " + dir + "/squid.pid\ncache_log " + dir + "/cache.log\n";
    conf += "access_log stdio:" + dir + "/access.log\ncache_store_log none\n";
    conf += "coredump_dir " + dir + "\nnetdb_filename none\npinger_enable off\n";
    conf += "cache deny all\ncache_mem 8 MB\nshutdown_lifetime 0 seconds\n";
    conf += "acl loopback src 127.0.0.1/32\nacl CONNECT method CONNECT\n";
    if (options.connect_ports.empty()) {
        conf += "http_access deny CONNECT\n";
    } else {
        conf += "acl test_ports port";
        for (uint16_t port : options.connect_ports) {
            conf += " " + port_text(port);
        }
        conf += "\nhttp_access deny CONNECT !test_ports\n";
    }
    if (options.auth != SQUID_AUTH_NONE) {
        conf += "acl authenticated proxy_auth REQUIRED\n";
        conf += "http_access allow loopback authenticated\n";
    } else {
        conf += "http_access allow loopback\n";
    }
    conf += "http_access deny all\n";
    std::string conf_path = dir + "/squid.conf";
    if (!test_write_file(conf_path, conf)) {
        *error = "cannot write " + conf_path;
        return false;
    }
    // Letters and digits only: the folder's unique name without the rest.
    service_name_.clear();
    for (char c : dir.substr(dir.rfind('/') + 1)) {
        if (isalnum(static_cast<unsigned char>(c))) {
            service_name_ += c;
        }
    }
    if (!process_.start({kSquid, "-N", "-n", service_name_, "-f", conf_path}, dir + "/stdout.log",
                        error, true)) {
        return false;
    }
    if (!process_.wait_for_port(port_, kStartTimeoutMs, error)) {
        *error += "\ncache.log:\n" + log_tail(dir + "/cache.log");
        return false;
    }
    return true;
}

void SquidServer::stop() {
    process_.stop();
    if (service_name_.empty()) {
        return;
    }
    // Killed squids leave their segments behind.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
        if (entry.path().filename().string().rfind(service_name_ + "-", 0) == 0) {
            std::filesystem::remove(entry.path(), ignored);
        }
    }
    service_name_.clear();
}

std::string SquidServer::access_log() const {
    std::string text;
    test_read_file(dir_.path() + "/access.log", &text);
    return text;
}

// ---- The fault server ---------------------------------------------------------

bool FaultServer::start(std::string* error) {
    return launch("", false, error);
}

bool FaultServer::start_with_files(const std::string& files_folder, std::string* error) {
    return launch(files_folder, false, error);
}

bool FaultServer::start_with_tls(const std::string& files_folder, std::string* error) {
    return launch(files_folder, true, error);
}

bool FaultServer::launch(const std::string& files_folder, bool tls, std::string* error) {
    if (!require_binary(kPython, error)) {
        return false;
    }
    port_ = test_free_port();
    tls_port_ = 0;
    std::string script = std::string(CORVANE_TEST_SUPPORT_DIR) + "/fault_server.py";
    // An empty folder argument keeps the position for the TLS options.
    std::vector<std::string> argv = {kPython, script, port_text(port_), files_folder};
    if (tls) {
        std::string cert = dir_.path() + "/cert.pem";
        std::string key = dir_.path() + "/key.pem";
        if (!test_make_certificate(cert, key, false, error)) {
            return false;
        }
        tls_port_ = test_free_port();
        argv.insert(argv.end(), {"--tls", port_text(tls_port_), cert, key});
    }
    if (!process_.start(argv, dir_.path() + "/fault.log", error)) {
        return false;
    }
    if (!process_.wait_for_port(port_, kStartTimeoutMs, error)) {
        return false;
    }
    return !tls || process_.wait_for_port(tls_port_, kStartTimeoutMs, error);
}

void FaultServer::stop() {
    process_.stop();
}

std::string FaultServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + port_text(port_) + path;
}

std::string FaultServer::tls_url(const std::string& path) const {
    return "https://127.0.0.1:" + port_text(tls_port_) + path;
}
