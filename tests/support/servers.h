// Real servers for tests, each started as the current user on free loopback
// ports in its own temporary folder and stopped (folder removed) by its
// destructor. Servers are found by absolute path; a missing binary makes
// start() fail with a message, so a test that needs it fails, never skips.
//
//   NginxServer nginx;
//   std::string error;
//   ASSERT_TRUE(nginx.start(NginxOptions{"/path/to/folder", true, true}, &error)) << error;
//   std::string url = nginx.http_url("/file.bin");  // "http://127.0.0.1:PORT/file.bin"
#pragma once

#include <stdint.h>
#include <sys/types.h>

#include <string>
#include <vector>

// A temporary folder, removed with everything in it by the destructor.
class TestTempDir {
  public:
    TestTempDir();
    ~TestTempDir();
    TestTempDir(const TestTempDir&) = delete;
    TestTempDir& operator=(const TestTempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// A loopback TCP port that was free a moment ago.
uint16_t test_free_port(void);

// Writes a file (binary); false on failure.
bool test_write_file(const std::string& path, const std::string& bytes);
bool test_read_file(const std::string& path, std::string* bytes);

// Runs a command line through /bin/sh and returns its standard output.
// *exit_code gets the exit status (or -1).
std::string test_run_capture(const std::string& command, int* exit_code);

// The body curl fetches from url ("-s", plus "-k" for https, plus extra).
std::string test_curl_body(const std::string& url, const std::string& extra_arguments = "");

// Makes a self-signed EC certificate and key for "localhost"; expired makes
// one whose validity ended before it began. False with *error on failure.
bool test_make_certificate(const std::string& cert_path, const std::string& key_path, bool expired,
                           std::string* error);

// A child process started by a fixture, stopped with SIGTERM (then SIGKILL).
class TestProcess {
  public:
    TestProcess() = default;
    ~TestProcess() { stop(); }
    TestProcess(const TestProcess&) = delete;
    TestProcess& operator=(const TestProcess&) = delete;
    // Starts argv[0] (an absolute path) with output to log_path. With
    // own_group the child leads a process group of its own, and stop()
    // kills the whole group at once, so helpers it started end with it.
    bool start(const std::vector<std::string>& argv, const std::string& log_path,
               std::string* error, bool own_group = false);
    // Waits until the port accepts connections, failing early if the
    // process ends. The log's tail goes into *error on failure.
    bool wait_for_port(uint16_t port, int timeout_ms, std::string* error);
    void stop();
    bool running() const { return pid_ > 0; }

  private:
    pid_t pid_ = -1;
    bool own_group_ = false;
    std::string log_path_;
};

struct NginxOptions {
    std::string root;    // folder served at "/"
    bool http = true;    // listen for http
    bool https = false;  // listen for https with a fresh self-signed cert
    bool expired_cert = false;
    // Inserted into the server blocks (for instance "keepalive_timeout 0;")
    // and into the http block.
    std::string server_config;
    std::string http_config;
};

class NginxServer {
  public:
    NginxServer() = default;
    ~NginxServer() { stop(); }
    bool start(const NginxOptions& options, std::string* error);
    void stop();
    uint16_t http_port() const { return http_port_; }
    uint16_t https_port() const { return https_port_; }
    std::string http_url(const std::string& path) const;
    std::string https_url(const std::string& path) const;
    const std::string& folder() const { return dir_.path(); }

  private:
    TestTempDir dir_;
    TestProcess process_;
    uint16_t http_port_ = 0;
    uint16_t https_port_ = 0;
};

// Apache httpd with "/basic/" under Basic and "/digest/" under Digest (MD5,
// qop=auth), realm "corvane", for the user and password given; other
// files come from root.
struct ApacheOptions {
    std::string root;
    std::string user = "ann";
    std::string password = "secret";
};

class ApacheServer {
  public:
    ApacheServer() = default;
    ~ApacheServer() { stop(); }
    bool start(const ApacheOptions& options, std::string* error);
    void stop();
    uint16_t port() const { return port_; }
    std::string url(const std::string& path) const;

  private:
    TestTempDir dir_;
    TestProcess process_;
    uint16_t port_ = 0;
};

// tinyproxy for loopback clients. An empty user turns BasicAuth off; with
// connect_ports set, CONNECT is allowed to those ports only (tinyproxy
// without a ConnectPort line tunnels to any port).
struct TinyproxyOptions {
    std::string user;
    std::string password;
    std::vector<uint16_t> connect_ports;
};

class TinyproxyServer {
  public:
    TinyproxyServer() = default;
    ~TinyproxyServer() { stop(); }
    // BasicAuth user/password, CONNECT to any port.
    bool start(const std::string& user, const std::string& password, std::string* error);
    bool start(const TinyproxyOptions& options, std::string* error);
    void stop();
    uint16_t port() const { return port_; }
    // The log so far, one line per connection and request among others.
    std::string log() const;

  private:
    TestTempDir dir_;
    TestProcess process_;
    uint16_t port_ = 0;
};

// squid for loopback clients, no disk cache, nothing kept in memory, asking
// for proxy authentication by the scheme given (realm "corvane") through
// its bundled password-file helpers. CONNECT is allowed to connect_ports
// only; without any, every CONNECT is refused.
enum SquidAuth { SQUID_AUTH_NONE, SQUID_AUTH_BASIC, SQUID_AUTH_DIGEST };

struct SquidOptions {
    SquidAuth auth = SQUID_AUTH_NONE;
    std::string user = "ann";
    std::string password = "secret";
    std::vector<uint16_t> connect_ports;
};

class SquidServer {
  public:
    SquidServer() = default;
    ~SquidServer() { stop(); }
    bool start(const SquidOptions& options, std::string* error);
    // Ends squid and its helpers (the whole process group).
    void stop();
    uint16_t port() const { return port_; }
    // The access log so far: one line per request squid handled.
    std::string access_log() const;

  private:
    TestTempDir dir_;
    TestProcess process_;
    uint16_t port_ = 0;
    // Names squid's shared-memory segments, so squids running at once
    // keep theirs apart.
    std::string service_name_;
};

// The project's fault-injecting server (tests/support/fault_server.py); the
// request path picks the misbehaviour.
class FaultServer {
  public:
    FaultServer() = default;
    ~FaultServer() { stop(); }
    bool start(std::string* error);
    // As start, with files_folder serving the /cut/NAME and /reset/NAME
    // routes (a download broken half-way) and /raw/KIND/N/NAME (the first N
    // bytes of a response the test laid out, then a cut, close-notify,
    // reset or stall).
    bool start_with_files(const std::string& files_folder, std::string* error);
    // As start_with_files, and the same routes through TLS on tls_port()
    // with a fresh self-signed certificate.
    bool start_with_tls(const std::string& files_folder, std::string* error);
    void stop();
    uint16_t port() const { return port_; }
    uint16_t tls_port() const { return tls_port_; }
    std::string url(const std::string& path) const;
    std::string tls_url(const std::string& path) const;

  private:
    bool launch(const std::string& files_folder, bool tls, std::string* error);

    TestTempDir dir_;
    TestProcess process_;
    uint16_t port_ = 0;
    uint16_t tls_port_ = 0;
};
