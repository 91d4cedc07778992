// The release tool as maintainers run it: exit codes, messages, and a
// keygen / manifest / verify round trip.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/release.h"
#include "tests/support/servers.h"
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

ToolRun run(const std::string& arguments) {
    std::string command = std::string(CORVANE_RELEASE_TOOL) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ToolRun result = {-1, ""};
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
        result.out.append(buffer, n);
    }
    int status = pclose(pipe);
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

std::string q(const fs::path& p) {
    return "'" + p.string() + "'";
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
                   " --changelog \"$(printf 'Fixes & <more>\\r\\nand more')\"" +
                   " --displayversion '2.1 \"beta\" 7' " + extra + " -o " +
                   q(dir / "manifest.xml"));
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
                                "<changelog>Fixes &amp; &lt;more&gt;&#13;\nand more</changelog>",
                                "<displayname>Corvane Chat</displayname>", "<verify>",
                                "<signature>", "<sha256>", "<forumlink></forumlink>"}) {
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
    std::string signature = s.out.substr(0, s.out.find('\n'));
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

TEST_F(ReleaseTool, UsageErrorsAndBadInputs) {
    ASSERT_EQ(keygen("release").code, 0);
    ASSERT_EQ(manifest("release.pem").code, 0);
    fs::copy(test_data_path("p256-private.pem"), dir / "p256.pem");
    fs::copy(test_data_path("p256-public.der"), dir / "p256.der");
    write(dir / "garbage.pem", "not a key\n");
    std::string d = dir.string() + "/";

    struct {
        std::string arguments;
        int code;
        std::string message;  // part of the output; empty: not checked
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
        {"manifest --key " + d + "release.pem --file " + d +
             "CorvaneChat.exe --version 1.0.0.0 "
             "--url https://h/f --changelog \"$(printf 'bell\\007')\" -o " +
             d + "x.xml",
         1, "changelog: holds a control character"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        ToolRun r = run(c.arguments);
        EXPECT_EQ(r.code, c.code) << r.out;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
        if (c.code == 1 && c.message.find("FAILED") == std::string::npos) {
            // One line naming the file and the problem.
            EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
        }
    }
    EXPECT_FALSE(fs::exists(dir / "x.xml"));
    EXPECT_FALSE(fs::exists(dir / "new.der")) << "keygen refused before writing either half";
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

}  // namespace
