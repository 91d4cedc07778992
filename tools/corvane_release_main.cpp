// corvane-release: key pairs, signed files and manifests, and a check of a
// published release through the tool's own fetch, parse and checks.
//
// Exit codes: 2 usage, 1 a failed check or bad input, 0 everything passed.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "core/text.h"
#include "http/http.h"
#include "http/proxy_choice.h"
#include "platform/net.h"
#include "tools/release.h"
#include "update/cycle.h"
#include "update/signing_key.h"
#include "update/version.h"

static const char USAGE[] =
    "usage:\n"
    "  corvane-release keygen PRIVATE.pem PUBLIC.der\n"
    "  corvane-release sign-file PRIVATE.pem FILE\n"
    "  corvane-release manifest --key PRIVATE.pem --file FILE --version A.B.C.D --url URL\n"
    "                  [--displayname T] [--displayversion T] [--changelog T] [--forumlink T]\n"
    "                  -o OUT.xml\n"
    "  corvane-release verify [--key PUBLIC.der] [URL | MANIFEST.xml] [--file FILE]\n"
    "                  (without --key: the key built into the tool; without a URL or\n"
    "                  file: the tool's own manifest address)\n";

static const int EXIT_PASSED = 0;
static const int EXIT_FAILED = 1;
static const int EXIT_USAGE = 2;

static int usage(const char* why) {
    if (why != nullptr) {
        fprintf(stderr, "corvane-release: %s\n", why);
    }
    fputs(USAGE, stderr);
    return EXIT_USAGE;
}

static int failed(const ReleaseProblem& problem) {
    fprintf(stderr, "corvane-release: %s\n", problem.c_str());
    return EXIT_FAILED;
}

static bool is_url(const char* text) {
    return strncmp(text, "http://", 7) == 0 || strncmp(text, "https://", 8) == 0;
}

// Four decimal numbers joined by dots, each within the signed 32-bit range.
static bool is_four_part_version(const char* text) {
    TextSpan rest = text_span(text);
    for (int part = 0; part < 4; part++) {
        if (part > 0 && (rest.length == 0 || *rest.data != '.')) {
            return false;
        }
        if (part > 0) {
            rest = TextSpan{rest.data + 1, rest.length - 1};
        }
        uint32_t value = 0;
        size_t digits = text_read_decimal(rest, &value);
        if (digits == 0 || value > 0x7fffffff) {
            return false;
        }
        rest = TextSpan{rest.data + digits, rest.length - digits};
    }
    return rest.length == 0;
}

static int command_keygen(int argc, char** argv) {
    if (argc != 4) {
        return usage("keygen takes PRIVATE.pem and PUBLIC.der");
    }
    ReleaseProblem problem;
    if (!release_keygen(argv[2], argv[3], &problem)) {
        return failed(problem);
    }
    printf("wrote %s (private, keep secret) and %s (88-byte public key)\n", argv[2], argv[3]);
    return EXIT_PASSED;
}

static int command_sign_file(int argc, char** argv) {
    if (argc != 4) {
        return usage("sign-file takes PRIVATE.pem and FILE");
    }
    ReleaseProblem problem;
    mbedtls_pk_context key;
    mbedtls_pk_init(&key);
    uint8_t digest[DIGEST_LENGTH];
    uint64_t size = 0;
    std::string signature;
    int code = EXIT_FAILED;
    if (!release_load_private_key(argv[2], &key, &problem) ||
        !release_hash_file(argv[3], digest, &size, &problem)) {
        failed(problem);
    } else if (!release_sign_digest(&key, digest, &signature)) {
        failed(std::string(argv[3]) + ": signing failed");
    } else {
        printf("%s\n", signature.c_str());
        code = EXIT_PASSED;
    }
    mbedtls_pk_free(&key);
    return code;
}

struct ManifestOptions {
    const char* key;
    const char* file;
    const char* version;
    const char* url;
    const char* out;
    const char* text[MANIFEST_FIELD_COUNT];  // optional display fields
};

static int command_manifest(int argc, char** argv) {
    ManifestOptions options = {};
    for (int i = 2; i < argc; i++) {
        const char* name = argv[i];
        if (i + 1 >= argc) {
            return usage((std::string(name) + " needs a value").c_str());
        }
        const char* value = argv[++i];
        if (strcmp(name, "--key") == 0) {
            options.key = value;
        } else if (strcmp(name, "--file") == 0) {
            options.file = value;
        } else if (strcmp(name, "--version") == 0) {
            options.version = value;
        } else if (strcmp(name, "--url") == 0) {
            options.url = value;
        } else if (strcmp(name, "-o") == 0) {
            options.out = value;
        } else if (strcmp(name, "--displayname") == 0) {
            options.text[FIELD_DISPLAYNAME] = value;
        } else if (strcmp(name, "--displayversion") == 0) {
            options.text[FIELD_DISPLAYVERSION] = value;
        } else if (strcmp(name, "--changelog") == 0) {
            options.text[FIELD_CHANGELOG] = value;
        } else if (strcmp(name, "--forumlink") == 0) {
            options.text[FIELD_FORUMLINK] = value;
        } else {
            return usage((std::string("unknown option ") + name).c_str());
        }
    }
    if (!options.key || !options.file || !options.version || !options.url || !options.out) {
        return usage("manifest needs --key, --file, --version, --url and -o");
    }
    if (!is_four_part_version(options.version)) {
        return failed(std::string(options.version) + ": not a version A.B.C.D");
    }
    int32_t version[4];
    parse_version(options.version, version);
    if (!version_above_baseline(version)) {
        return failed(std::string(options.version) + ": not above 0.0.0.0; the tool ignores it");
    }
    if (!is_url(options.url) || strlen(options.url) > 511) {
        return failed(std::string(options.url) +
                      ": not an http:// or https:// URL of at most "
                      "511 characters");
    }

    // Refused before anything is read: writing over the key would lose it.
    ReleaseProblem problem;
    const char* inputs[] = {options.key, options.file};
    if (!release_check_output(options.out, inputs, 2, &problem)) {
        return failed(problem);
    }

    int code = EXIT_FAILED;
    mbedtls_pk_context key;
    mbedtls_pk_init(&key);
    uint8_t digest[DIGEST_LENGTH];
    uint64_t size = 0;
    ReleaseFields fields = {};
    std::string xml;
    uint8_t public_der[SIGNING_KEY_LENGTH];
    UpdateJob check = {};

    if (!release_load_private_key(options.key, &key, &problem) ||
        !release_hash_file(options.file, digest, &size, &problem)) {
        failed(problem);
        goto cleanup;
    }
    for (uint32_t i = 0; i < MANIFEST_FIELD_COUNT; i++) {
        fields.present[i] = true;
    }
    fields.text[FIELD_VERSION] = options.version;
    fields.text[FIELD_DISPLAYNAME] =
        options.text[FIELD_DISPLAYNAME] ? options.text[FIELD_DISPLAYNAME] : "Corvane Chat";
    fields.text[FIELD_DISPLAYVERSION] =
        options.text[FIELD_DISPLAYVERSION] ? options.text[FIELD_DISPLAYVERSION] : options.version;
    fields.text[FIELD_URL] = options.url;
    fields.text[FIELD_SIZE] = std::to_string(size);
    fields.text[FIELD_SHA256] = release_hex(digest, DIGEST_LENGTH);
    fields.text[FIELD_CHANGELOG] =
        options.text[FIELD_CHANGELOG] ? options.text[FIELD_CHANGELOG] : "";
    fields.text[FIELD_FORUMLINK] =
        options.text[FIELD_FORUMLINK] ? options.text[FIELD_FORUMLINK] : "";
    if (!release_sign_digest(&key, digest, &fields.text[FIELD_SIGNATURE])) {
        failed(std::string(options.file) + ": signing failed");
        goto cleanup;
    }
    if (!release_sign_manifest(&key, &fields, &problem) ||
        !release_manifest_xml(fields, &xml, &problem)) {
        failed(problem);
        goto cleanup;
    }
    // Read the document back through the tool's own parser and checks
    // before anyone publishes it.
    if (!release_public_der(&key, public_der) ||
        !load_signing_key_from(public_der, sizeof(public_der), nullptr) ||
        !release_parse_manifest(xml, &check) || !check_manifest_signature(&check) ||
        !check_file_signature(&check, digest)) {
        failed(std::string(options.out) + ": the written manifest does not pass its own checks");
        goto cleanup;
    }
    if (!release_write_file(options.out, xml, &problem)) {
        failed(problem);
        goto cleanup;
    }
    printf("wrote %s: version %s, %llu bytes, sha256 %s\n", options.out, options.version,
           static_cast<unsigned long long>(size), fields.text[FIELD_SHA256].c_str());
    code = EXIT_PASSED;

cleanup:
    job_free_fields(&check);
    mbedtls_pk_free(&key);
    return code;
}

static bool report_check(bool passed, const std::string& what) {
    printf("%s %s\n", passed ? "passed:" : "FAILED:", what.c_str());
    return passed;
}

// Prints the proxy the tool's own fetch of url takes, by the tool's rules
// for the system's setting. False, with the setting's problem printed, when
// the setting cannot be used: the fetch would fail on it.
static bool report_proxy(const char* url) {
    ProxyChoice proxy;
    ProxyResult result = proxy_system_choice(url, &proxy);
    const char* origin = proxy.origin != nullptr ? proxy.origin : "no setting";
    if (result != PROXY_OK) {
        fprintf(stderr, "corvane-release: the system's proxy (%s) for %s: %s\n", origin, url,
                proxy_result_text(result));
        return false;
    }
    if (proxy.use_proxy) {
        printf("proxy: %s:%u%s (%s) for %s\n", proxy.host, static_cast<unsigned>(proxy.port),
               proxy.user[0] != 0 ? " with credentials" : "", origin, url);
    } else {
        printf("proxy: none (%s) for %s\n", origin, url);
    }
    return true;
}

// Loads the public key file through the tool's own key load.
static bool load_public_key_file(const char* path, ReleaseProblem* problem) {
    std::string data;
    if (!release_read_file(path, &data, problem)) {
        return false;
    }
    const char* why = nullptr;
    // PEM text is parsed with its NUL; DER as it stands.
    bool pem = data.compare(0, 5, "-----") == 0;
    size_t length = pem ? data.size() + 1 : data.size();
    if (!load_signing_key_from(reinterpret_cast<const uint8_t*>(data.c_str()), length, &why)) {
        *problem = std::string(path) + ": " + why;
        return false;
    }
    return true;
}

static int command_verify(int argc, char** argv) {
    const char* key = nullptr;
    const char* source = nullptr;
    const char* file = nullptr;
    for (int i = 2; i < argc; i++) {
        bool is_key = strcmp(argv[i], "--key") == 0;
        if (is_key || strcmp(argv[i], "--file") == 0) {
            if (i + 1 >= argc) {
                return usage((std::string(argv[i]) + " needs a value").c_str());
            }
            if (is_key) {
                key = argv[i + 1];
            } else {
                file = argv[i + 1];
            }
            i++;
        } else if (argv[i][0] == '-' && argv[i][1] == '-') {
            return usage((std::string("unknown option ") + argv[i]).c_str());
        } else if (source == nullptr) {
            source = argv[i];
        } else {
            return usage("verify takes one URL or manifest file");
        }
    }
    ReleaseProblem problem;
    if (key == nullptr) {
        load_signing_key();  // the tool's own start-up load of its built-in key
    } else if (!load_public_key_file(key, &problem)) {
        return failed(problem);
    }
    if (source == nullptr) {
        source = manifest_url();
        if (source == nullptr) {
            return failed(std::string(update_host()) + ": the manifest address is too long");
        }
    }

    std::string xml;
    if (!is_url(source) && !release_read_file(source, &xml, &problem)) {
        return failed(problem);
    }
    printf("key: %s\n", key != nullptr ? key : "built into the tool");

    bool all = true;
    UpdateJob job = {};
    bool read = is_url(source) ? report_proxy(source) && job_create_fields(&job) &&
                                     manifest_fetch_fields(&job, source)
                               : release_parse_manifest(xml, &job);
    all &= report_check(read, std::string("manifest read and parsed: ") + source);
    bool manifest_signed = read && check_manifest_signature(&job);
    all &= report_check(manifest_signed, "manifest signature (\"verify\")");
    if (read) {
        parse_version(field_text(job.fields[FIELD_VERSION]), job.version);
        job.size = parse_size(field_text(job.fields[FIELD_SIZE]));
    }
    char version_text[64];
    snprintf(version_text, sizeof(version_text), "%d.%d.%d.%d", job.version[0], job.version[1],
             job.version[2], job.version[3]);
    all &= report_check(read && version_above_baseline(job.version),
                        std::string("version ") + version_text + " above 0.0.0.0");

    uint8_t digest[DIGEST_LENGTH] = {};
    uint64_t received = 0;
    bool fetched = false;
    std::string origin;
    if (file != nullptr) {
        origin = file;
        fetched = release_hash_file(file, digest, &received, &problem);
        if (!fetched) {
            fprintf(stderr, "corvane-release: %s\n", problem.c_str());
        }
    } else if (manifest_signed) {
        // The download of the tool itself, hashed but not written anywhere.
        origin = field_text(job.fields[FIELD_URL]);
        mbedtls_md_context_t md;
        mbedtls_md_init(&md);
        uint32_t count = 0;
        fetched = report_proxy(origin.c_str()) &&
                  mbedtls_md_setup(&md, mbedtls_md_info_from_type(MBEDTLS_MD_SHA256), 0) == 0 &&
                  mbedtls_md_starts(&md) == 0 &&
                  download_body(&job, origin.c_str(), nullptr, &md, &count) &&
                  mbedtls_md_finish(&md, digest) == 0;
        received = count;
        mbedtls_md_free(&md);
    } else {
        origin = "(not downloaded: the manifest is not signed)";
    }
    all &= report_check(fetched, "program file read: " + origin);
    bool size_ok = fetched && job.size >= 0 && received == static_cast<uint64_t>(job.size);
    all &= report_check(size_ok, "size: " + std::to_string(received) + " bytes, manifest says " +
                                     std::to_string(job.size));
    all &= report_check(fetched && check_file_signature(&job, digest),
                        "program file signature (\"signature\")");
    job_free_fields(&job);
    return all ? EXIT_PASSED : EXIT_FAILED;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        return usage(nullptr);
    }
    const char* command = argv[1];
    if (strcmp(command, "keygen") == 0) {
        return command_keygen(argc, argv);
    }
    if (strcmp(command, "sign-file") == 0) {
        return command_sign_file(argc, argv);
    }
    if (strcmp(command, "manifest") == 0) {
        return command_manifest(argc, argv);
    }
    if (strcmp(command, "verify") == 0) {
        // The fetches go through the tool's HTTP client, which needs the
        // socket library started (Winsock) as the tool's own start-up does.
        if (!platform_net_startup()) {
            return failed("the socket library cannot be started");
        }
        if (!http_tls_startup()) {
            return failed("the TLS library's crypto cannot be started");
        }
        return command_verify(argc, argv);
    }
    return usage((std::string("unknown command ") + command).c_str());
}
