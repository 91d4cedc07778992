// The release tool as maintainers run it: exit codes, messages, and a
// keygen / manifest / verify round trip.
#ifdef _WIN32
#include <winsock2.h>  // before anything brings in windows.h
#endif
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include "tests/support/servers.h"
#endif

#include "tests/support/release.h"
#include "update/signing_key.h"

#ifndef CORVANE_RELEASE_TOOL
#error "CORVANE_RELEASE_TOOL must name the corvane-release binary"
#endif

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int code;
    std::string out;  // stdout and stderr together
};

// Everything the command writes until it ends; the pipe stays open.
std::string read_all(FILE* pipe) {
    std::string out;
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
        out.append(buffer, n);
    }
    return out;
}

#ifdef _WIN32
// cmd.exe strips the outer pair of quotes from what it is given.
ToolRun run(const std::string& arguments, const std::string& before = "") {
    std::string command =
        "\"" + before + "\"" + std::string(CORVANE_RELEASE_TOOL) + "\" " + arguments + " 2>&1\"";
    FILE* pipe = _popen(command.c_str(), "rb");
    ToolRun result = {-1, ""};
    if (pipe == nullptr) {
        return result;
    }
    result.out = read_all(pipe);
    result.code = _pclose(pipe);
    return result;
}

std::string q(const std::filesystem::path& p) {
    return "\"" + p.string() + "\"";
}

// Display texts cmd.exe passes through unchanged.
const char MANIFEST_TEXTS[] = " --changelog \"Fixes & more\" --displayversion \"2.1 beta 7\"";
const char CHANGELOG_ELEMENT[] = "<changelog>Fixes &amp; more</changelog>";
#else
ToolRun run(const std::string& arguments, const std::string& before = "") {
    std::string command = before + CORVANE_RELEASE_TOOL + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ToolRun result = {-1, ""};
    if (pipe == nullptr) {
        return result;
    }
    result.out = read_all(pipe);
    int status = pclose(pipe);
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string q(const std::filesystem::path& p) {
    return "'" + p.string() + "'";
}

const char MANIFEST_TEXTS[] =
    " --changelog \"$(printf 'Fixes & <more>\\r\\nand more')\" --displayversion '2.1 \"beta\" 7'";
const char CHANGELOG_ELEMENT[] = "<changelog>Fixes &amp; &lt;more&gt;&#13;\nand more</changelog>";
#endif

std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

class ReleaseTool : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("corvane-release-test-" +
               std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        write(dir / "CorvaneChat.exe", test_program_bytes(300000, 3));
    }
    void TearDown() override { fs::remove_all(dir); }

    ToolRun keygen(const char* name) {
        return run("keygen " + q(dir / (std::string(name) + ".pem")) + " " +
                   q(dir / (std::string(name) + ".der")));
    }
    ToolRun manifest(const char* key, const char* extra = "") {
        return run("manifest --key " + q(dir / key) + " --file " + q(dir / "CorvaneChat.exe") +
                   " --version 2.1.0.7 --url https://127.0.0.1:47443/files/CorvaneChat.exe" +
                   MANIFEST_TEXTS + " " + extra + " -o " + q(dir / "manifest.xml"));
    }
    fs::path dir;
};

TEST_F(ReleaseTool, KeygenManifestVerifyRoundTrip) {
    ToolRun k = keygen("release");
    ASSERT_EQ(k.code, 0) << k.out;
    EXPECT_EQ(fs::file_size(dir / "release.der"), 88u);

    ToolRun m = manifest("release.pem");
    ASSERT_EQ(m.code, 0) << m.out;
    std::string xml = read(dir / "manifest.xml");
    for (const char* element : {"<version>2.1.0.7</version>", "<size>300000</size>",
                                CHANGELOG_ELEMENT, "<displayname>Corvane Chat</displayname>",
                                "<verify>", "<signature>", "<sha256>", "<forumlink></forumlink>"}) {
        EXPECT_NE(xml.find(element), std::string::npos) << element << " in\n" << xml;
    }

    ToolRun v = run("verify --key " + q(dir / "release.der") + " " + q(dir / "manifest.xml") +
                    " --file " + q(dir / "CorvaneChat.exe"));
    EXPECT_EQ(v.code, 0) << v.out;
    EXPECT_EQ(v.out.find("FAILED"), std::string::npos) << v.out;
    EXPECT_NE(v.out.find("passed: program file signature"), std::string::npos) << v.out;

    // sign-file prints a signature the tool's own check accepts.
    ToolRun s = run("sign-file " + q(dir / "release.pem") + " " + q(dir / "CorvaneChat.exe"));
    ASSERT_EQ(s.code, 0) << s.out;
    // The first line, without the "\r" a Windows console line ends in.
    std::string signature = s.out.substr(0, s.out.find_first_of("\r\n"));
    std::string der = read(dir / "release.der");
    ASSERT_TRUE(
        load_signing_key_from(reinterpret_cast<const uint8_t*>(der.data()), der.size(), nullptr));
    std::string program = read(dir / "CorvaneChat.exe");
    uint8_t digest[DIGEST_LENGTH];
    mbedtls_md(mbedtls_md_info_from_type(MBEDTLS_MD_SHA256),
               reinterpret_cast<const uint8_t*>(program.data()), program.size(), digest);
    EXPECT_TRUE(verify_digest(signature.c_str(), static_cast<uint32_t>(signature.size()), digest));
}

TEST_F(ReleaseTool, VerifyFailsOnAChangedFileFieldOrKey) {
    ASSERT_EQ(keygen("release").code, 0);
    ASSERT_EQ(keygen("other").code, 0);
    ASSERT_EQ(manifest("release.pem").code, 0);
    std::string xml = read(dir / "manifest.xml");
    std::string program = read(dir / "CorvaneChat.exe");

    std::string changed_program = program;
    changed_program[12345] ^= 0x20;
    write(dir / "changed.exe", changed_program);
    write(dir / "longer.exe", program + "x");
    std::string changed_xml = xml;
    changed_xml.replace(changed_xml.find("Corvane Chat"), 12, "Corvane Chet");
    write(dir / "changed.xml", changed_xml);

    struct {
        const char* name;
        const char* key;
        const char* manifest;
        const char* file;
        const char* failed_line;
    } cases[] = {
        {"a changed file", "release.der", "manifest.xml", "changed.exe",
         "FAILED: program file signature"},
        {"a longer file", "release.der", "manifest.xml", "longer.exe", "FAILED: size"},
        {"a changed field", "release.der", "changed.xml", "CorvaneChat.exe",
         "FAILED: manifest signature"},
        {"the wrong key", "other.der", "manifest.xml", "CorvaneChat.exe",
         "FAILED: manifest signature"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ToolRun v = run("verify --key " + q(dir / c.key) + " " + q(dir / c.manifest) + " --file " +
                        q(dir / c.file));
        EXPECT_EQ(v.code, 1) << v.out;
        EXPECT_NE(v.out.find(c.failed_line), std::string::npos) << v.out;
    }
}

// Every refusal leaves every file as it was and nothing beside them.
TEST_F(ReleaseTool, UsageErrorsAndBadInputs) {
    ASSERT_EQ(keygen("release").code, 0);
    ASSERT_EQ(manifest("release.pem").code, 0);
    ASSERT_EQ(manifest("release.pem").code, 0) << "an existing manifest is replaced";
    fs::copy(test_data_path("p256-private.pem"), dir / "p256.pem");
    fs::copy(test_data_path("p256-public.der"), dir / "p256.der");
    write(dir / "garbage.pem", "not a key\n");
    std::string d = dir.string() + "/";
    fs::create_directory(dir / "folder");
    write(dir / "big.pem", std::string(RELEASE_READ_LIMIT + 1, '-'));
    fs::create_hard_link(dir / "release.pem", dir / "hard.pem");
#ifndef _WIN32
    fs::create_symlink(dir / "CorvaneChat.exe", dir / "link.exe");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
#endif
    const std::string to = "manifest --key " + d + "release.pem --file " + d +
                           "CorvaneChat.exe --version 2.1.0.8 --url https://h/f -o ";

    struct {
        std::string arguments;
        int code;
        std::string message;      // part of the output; empty: not checked
        const char* before = "";  // shell commands ahead of the tool's
    } cases[] = {
        {"", 2, "usage:"},
        {"frobnicate", 2, "unknown command frobnicate"},
        {"keygen " + d + "only-one.pem", 2, "usage:"},
        {"sign-file " + d + "release.pem", 2, "usage:"},
        {"manifest --key " + d + "release.pem --file " + d + "CorvaneChat.exe", 2,
         "manifest needs"},
        {"manifest --key", 2, "--key needs a value"},
        {"manifest --bogus 1", 2, "unknown option --bogus"},
        {"verify --key", 2, "--key needs a value"},
        {"verify --bogus", 2, "unknown option --bogus"},
        {"verify " + d + "manifest.xml", 1, "FAILED: manifest signature"},
        {"verify --key " + d + "release.der a.xml b.xml", 2, "one URL or manifest file"},
        {"keygen " + d + "release.pem " + d + "new.der", 1,
         d + "release.pem: already exists; refusing to overwrite a key"},
        {.arguments = "keygen \"\" " + d + "new.der", .code = 1, .message = "the path is empty"},
        {"sign-file " + d + "missing.pem " + d + "CorvaneChat.exe", 1,
         d + "missing.pem: cannot be opened"},
        {"sign-file " + d + "garbage.pem " + d + "CorvaneChat.exe", 1,
         d + "garbage.pem: not a private key"},
        {"sign-file " + d + "release.der " + d + "CorvaneChat.exe", 1,
         d + "release.der: not a private key"},
        {"sign-file " + d + "p256.pem " + d + "CorvaneChat.exe", 1,
         d + "p256.pem: not a secp256k1 key"},
        {"sign-file " + d + "release.pem " + d + "missing.exe", 1,
         d + "missing.exe: cannot be opened"},
        {"verify --key " + d + "p256.der " + d + "manifest.xml", 1,
         d + "p256.der: not a secp256k1 key"},
        {"verify --key " + d + "release.pem " + d + "manifest.xml", 1,
         d + "release.pem: not a DER or PEM public key"},
        {"verify --key " + d + "missing.der " + d + "manifest.xml", 1,
         d + "missing.der: cannot be opened"},
        {"verify --key " + d + "release.der " + d + "missing.xml", 1,
         d + "missing.xml: cannot be opened"},
        {"verify --key " + d + "release.der " + d + "CorvaneChat.exe", 1,
         "FAILED: manifest read and parsed"},
        {"manifest --key " + d + "release.pem --file " + d +
             "CorvaneChat.exe --version 2.1 "
             "--url https://h/f -o " +
             d + "x.xml",
         1, "2.1: not a version A.B.C.D"},
        {"manifest --key " + d + "release.pem --file " + d +
             "CorvaneChat.exe --version 0.0.0.0 "
             "--url https://h/f -o " +
             d + "x.xml",
         1, "0.0.0.0: not above 0.0.0.0"},
        {"manifest --key " + d + "release.pem --file " + d +
             "CorvaneChat.exe --version 1.0.0.0 "
             "--url ftp://h/f -o " +
             d + "x.xml",
         1, "ftp://h/f: not an http:// or https:// URL"},
#ifndef _WIN32  // cmd.exe has no way to pass a control character
        {"manifest --key " + d + "release.pem --file " + d +
             "CorvaneChat.exe --version 1.0.0.0 "
             "--url https://h/f --changelog \"$(printf 'bell\\007')\" -o " +
             d + "x.xml",
         1, "changelog: holds a control character"},
#endif
        {.arguments = "sign-file " + d + "big.pem x", .code = 1, .message = "more than 2097152"},
        {.arguments = to + d + "release.pem", .code = 1, .message = "is the same file as"},
        {.arguments = to + d + "hard.pem", .code = 1, .message = "hard.pem: is the same file as"},
        {.arguments = to + d + "./CorvaneChat.exe", .code = 1, .message = "is the same file as"},
        {.arguments = to + d + "folder", .code = 1, .message = "folder: exists and is not a"},
        {.arguments = to + "\"\"", .code = 1, .message = "\"\": the path is empty"},
#ifndef _WIN32
        {.arguments = to + d + "link.exe", .code = 1, .message = "link.exe: is the same file as"},
        // Not /dev/null: a regression run as root would replace the device.
        {.arguments = to + d + "fifo", .code = 1, .message = "fifo: exists and is not a"},
        {.arguments = to + d + "manifest.xml",
         .code = 1,
         .message = "manifest.xml: write error",
         .before = "trap '' XFSZ; ulimit -f 0; "},  // every write fails, as on a full disk
#endif
    };
    auto files = [&] {
        std::map<std::string, size_t> bytes;  // a hash of each file's bytes, by name
        for (const auto& entry : fs::directory_iterator(dir)) {
            bytes[entry.path().string()] =
                std::hash<std::string>()(fs::is_regular_file(entry) ? read(entry) : "");
        }
        return bytes;
    };
    const auto before = files();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        ToolRun r = run(c.arguments, c.before);
        EXPECT_EQ(r.code, c.code) << r.out;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
        if (c.code == 1 && c.message.find("FAILED") == std::string::npos) {
            // One line naming the file and the problem.
            EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
        }
    }
    EXPECT_EQ(files(), before);
}

// The program file is refused as soon as its read passes the limit, so an
// endless stream ends too.
TEST_F(ReleaseTool, HashingStopsAtTheLimit) {
    const struct {
        fs::path file;
        uint64_t limit;
        uint64_t size;  // 0: refused
    } cases[] = {
        {.file = dir / "CorvaneChat.exe", .limit = 300000, .size = 300000},
        {.file = dir / "CorvaneChat.exe", .limit = 299999, .size = 0},
#ifndef _WIN32
        {.file = "/dev/zero", .limit = 300000, .size = 0},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.string() + " within " + std::to_string(c.limit));
        uint8_t digest[DIGEST_LENGTH];
        uint64_t size = 0;
        ReleaseProblem problem;
        bool ok =
            release_hash_file_within(c.file.string().c_str(), c.limit, digest, &size, &problem);
        EXPECT_EQ(ok, c.size != 0) << problem;
        EXPECT_EQ(size, c.size);
    }
}

#ifndef _WIN32
// The private key is readable by its owner alone whatever the umask, and
// keygen creates both halves in one step: a name that is taken, even by a
// link to nowhere, is refused without writing anything anywhere.
TEST_F(ReleaseTool, KeygenMakesAnOwnerOnlyKeyAndNeverWritesThroughAName) {
    mode_t saved = umask(022);
    ToolRun k = keygen("release");
    umask(saved);
    ASSERT_EQ(k.code, 0) << k.out;
    struct stat st;
    ASSERT_EQ(stat((dir / "release.pem").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the private key is readable by others";

    fs::create_symlink(dir / "elsewhere.pem", dir / "link.pem");
    const std::string public_before = read(dir / "release.der");
    const struct {
        const char* private_name;
        const char* public_name;
        const char* message;
    } cases[] = {
        {"link.pem", "link.der", "link.pem: "},
        {"fresh.pem", "release.der", "release.der: already exists"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.private_name);
        ToolRun r = run("keygen " + q(dir / c.private_name) + " " + q(dir / c.public_name));
        EXPECT_EQ(r.code, 1) << r.out;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
    }
    EXPECT_FALSE(fs::exists(dir / "elsewhere.pem")) << "the key was written through the link";
    EXPECT_FALSE(fs::exists(dir / "link.der"));
    EXPECT_FALSE(fs::exists(dir / "fresh.pem")) << "half a key pair was left";
    EXPECT_EQ(read(dir / "release.der"), public_before);
}

TEST_F(ReleaseTool, VerifyFetchesTheManifestAndDownloadsTheFile) {
    ASSERT_EQ(keygen("release").code, 0);
    TestTempDir www;
    fs::create_directories(www.file("update/release/v1"));
    fs::create_directories(www.file("files"));
    std::string program = read(dir / "CorvaneChat.exe");
    write(www.file("files/CorvaneChat.exe"), program);
    NginxServer nginx;
    NginxOptions options;
    options.root = www.path();
    options.https = true;
    std::string error;
    ASSERT_TRUE(nginx.start(options, &error)) << error;
    std::string file_url = nginx.https_url("/files/CorvaneChat.exe");
    std::string manifest_url = nginx.https_url("/update/release/v1/corvanechat.xml");
    ToolRun m = run("manifest --key " + q(dir / "release.pem") + " --file " +
                    q(dir / "CorvaneChat.exe") + " --version 1.0.0.3 --url " + file_url + " -o " +
                    www.file("update/release/v1/corvanechat.xml"));
    ASSERT_EQ(m.code, 0) << m.out;

    std::string changed = program;
    changed[99] ^= 1;
    struct {
        const char* name;
        std::string served;  // the program file nginx serves
        std::string url;
        int code;
        const char* line;
    } cases[] = {
        {"the published release", program, manifest_url, 0, "passed: program file read: https://"},
        {"a changed file on the server", changed, manifest_url, 1,
         "FAILED: program file signature"},
        {"a cut file on the server", program.substr(0, 1000), manifest_url, 1, "FAILED: size"},
        {"no manifest at the URL", program, nginx.https_url("/update/none.xml"), 1,
         "FAILED: manifest signature"},
        {"no server", program, "https://127.0.0.1:" + std::to_string(test_free_port()) + "/m.xml",
         1, "FAILED: manifest read and parsed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write(www.file("files/CorvaneChat.exe"), c.served);
        ToolRun v = run("verify --key " + q(dir / "release.der") + " " + c.url);
        EXPECT_EQ(v.code, c.code) << v.out;
        EXPECT_NE(v.out.find(c.line), std::string::npos) << v.out;
    }
}

#endif

// A minimal HTTP/1.1 server on a loopback port, in the test process: each
// connection gets one response (the file at the path, else 404) and is
// closed. It lets the verify-over-HTTP run on Windows, where no server of
// the native tests is at hand.
class LoopbackHttp {
  public:
    ~LoopbackHttp() { stop(); }
    bool start() {
#ifdef _WIN32
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
            return false;
        }
#endif
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            listen(listener_, 8) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return false;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
        return true;
    }
    void put(const std::string& path, const std::string& body) {
        std::lock_guard<std::mutex> lock(mutex_);
        files_[path] = body;
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    void stop() {
        if (!thread_.joinable()) {
            return;
        }
        stopping_ = true;
        // A connection of its own wakes the accept.
        auto wake = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port_);
        connect(wake, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        thread_.join();
        close_socket(wake);
        close_socket(listener_);
    }

  private:
#ifdef _WIN32
    typedef int socklen_t;
    static void close_socket(SOCKET s) { closesocket(s); }
    SOCKET listener_ = INVALID_SOCKET;
#else
    static void close_socket(int s) { close(s); }
    int listener_ = -1;
#endif
    void serve() {
        while (!stopping_) {
            auto client = accept(listener_, nullptr, nullptr);
            if (stopping_) {
                close_socket(client);
                return;
            }
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                int n = static_cast<int>(recv(client, buffer, sizeof(buffer), 0));
                if (n <= 0) {
                    break;
                }
                request.append(buffer, static_cast<size_t>(n));
            }
            std::string path;
            if (request.compare(0, 4, "GET ") == 0) {
                path = request.substr(4, request.find(' ', 4) - 4);
            }
            std::string response;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                auto found = files_.find(path);
                const std::string body = found != files_.end() ? found->second : "not found";
                response = std::string(found != files_.end() ? "HTTP/1.1 200 OK"
                                                             : "HTTP/1.1 404 Not Found") +
                           "\r\nContent-Length: " + std::to_string(body.size()) +
                           "\r\nConnection: close\r\n\r\n" + body;
            }
            for (size_t sent = 0; sent < response.size();) {
                int n = static_cast<int>(send(client, response.data() + sent,
                                              static_cast<int>(response.size() - sent), 0));
                if (n <= 0) {
                    break;
                }
                sent += static_cast<size_t>(n);
            }
            close_socket(client);
        }
    }
    std::thread thread_;
    std::mutex mutex_;
    std::map<std::string, std::string> files_;
    std::atomic<bool> stopping_{false};  // set by stop() while serve() runs
    uint16_t port_ = 0;
};

// Also the Windows build's check that verify brings up the socket layer
// before it fetches.
TEST_F(ReleaseTool, VerifyFetchesOverPlainHttpFromALoopbackServer) {
    ASSERT_EQ(keygen("release").code, 0);
    LoopbackHttp server;
    ASSERT_TRUE(server.start());
    std::string program = read(dir / "CorvaneChat.exe");
    ToolRun m = run("manifest --key " + q(dir / "release.pem") + " --file " +
                    q(dir / "CorvaneChat.exe") + " --version 1.0.0.3 --url " +
                    server.url("/files/CorvaneChat.exe") + " -o " + q(dir / "manifest.xml"));
    ASSERT_EQ(m.code, 0) << m.out;
    server.put("/manifest.xml", read(dir / "manifest.xml"));

    std::string changed = program;
    changed[99] ^= 1;
    struct {
        const char* name;
        std::string served;
        const char* path;
        int code;
        const char* line;
    } cases[] = {
        {"the published release", program, "/manifest.xml", 0,
         "passed: program file read: http://"},
        {"a changed file on the server", changed, "/manifest.xml", 1,
         "FAILED: program file signature"},
        {"no manifest at the URL", program, "/none.xml", 1, "FAILED: manifest signature"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.put("/files/CorvaneChat.exe", c.served);
        ToolRun v = run("verify --key " + q(dir / "release.der") + " " + server.url(c.path));
        EXPECT_EQ(v.code, c.code) << v.out;
        EXPECT_NE(v.out.find(c.line), std::string::npos) << v.out;
    }
}

#ifndef _WIN32
// One environment variable for the scope (null: unset), as it was after.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        const char* old = getenv(name);
        had_ = old != nullptr;
        old_ = had_ ? old : "";
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedVariable() {
        if (had_) {
            setenv(name_, old_.c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

size_t occurrences(const std::string& text, const std::string& needle) {
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        count++;
    }
    return count;
}

// verify fetches as the tool does: through the proxy the environment names
// (tinyproxy) for the manifest and the program file, directly when no_proxy
// names the server, and never directly when the proxy cannot be used.
TEST_F(ReleaseTool, VerifyTakesTheSystemsProxy) {
    ASSERT_EQ(keygen("release").code, 0);
    LoopbackHttp server;
    ASSERT_TRUE(server.start());
    TinyproxyServer proxy;
    std::string error;
    ASSERT_TRUE(proxy.start("", "", &error)) << error;
    ToolRun m = run("manifest --key " + q(dir / "release.pem") + " --file " +
                    q(dir / "CorvaneChat.exe") + " --version 1.0.0.3 --url " +
                    server.url("/files/CorvaneChat.exe") + " -o " + q(dir / "manifest.xml"));
    ASSERT_EQ(m.code, 0) << m.out;
    server.put("/manifest.xml", read(dir / "manifest.xml"));
    server.put("/files/CorvaneChat.exe", read(dir / "CorvaneChat.exe"));
    const std::string via = "127.0.0.1:" + std::to_string(proxy.port());
    const std::string manifest_url = server.url("/manifest.xml");
    struct {
        const char* name;
        std::string http_proxy;
        const char* no_proxy;
        int code;
        std::string line;
        size_t relayed;  // requests tinyproxy passed on to the server
    } cases[] = {
        {"through the proxy", "http://" + via + "/", nullptr, 0,
         "proxy: " + via + " (http_proxy) for " + manifest_url, 2},
        {"no_proxy naming the server", "http://" + via, "localhost, 127.0.0.1", 0,
         "proxy: none (no_proxy) for " + manifest_url, 0},
        {"a proxy that cannot be reached", "127.0.0.1:1", nullptr, 1,
         "FAILED: manifest read and parsed", 0},
        {"credentials over the client's fields", "http://ann:0123456789abcdef@" + via, nullptr, 1,
         "the system's proxy (http_proxy) for " + manifest_url +
             ": the proxy user name or password is longer than 15 characters",
         0},
    };
    const std::string request = "GET " + server.url("/");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedVariable http_proxy("http_proxy", c.http_proxy.c_str());
        ScopedVariable no_proxy("no_proxy", c.no_proxy);
        ScopedVariable upper_no_proxy("NO_PROXY", nullptr);
        size_t before = occurrences(proxy.log(), request);
        ToolRun v = run("verify --key " + q(dir / "release.der") + " " + manifest_url);
        EXPECT_EQ(v.code, c.code) << v.out;
        EXPECT_NE(v.out.find(c.line), std::string::npos) << v.out;
        EXPECT_EQ(occurrences(proxy.log(), request) - before, c.relayed) << proxy.log();
    }
}
#endif

}  // namespace
