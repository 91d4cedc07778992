// Text collection from manifest documents, fed in pieces of several sizes.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "update/build_config.h"
#include "update/manifest.h"

namespace {

struct Collected {
    bool parsed;
    size_t consumed;  // bytes offered to the parser before it stopped
    std::string text[MANIFEST_FIELD_COUNT];
};

Collected collect(const std::string& xml, size_t piece) {
    UpdateJob job = {};
    Collected out = {};
    EXPECT_TRUE(job_create_fields(&job));
    ManifestParser* parser = manifest_parser_create(&job);
    bool ok = true;
    size_t at = 0;
    for (;;) {
        size_t n = std::min(piece, xml.size() - at);
        bool final = at + n == xml.size();
        ok = manifest_parser_feed(parser, xml.data() + at, static_cast<uint32_t>(n), final);
        at += n;
        if (!ok || final) {
            break;
        }
    }
    manifest_parser_free(parser);
    out.parsed = ok;
    out.consumed = at;
    for (uint32_t i = 0; i < MANIFEST_FIELD_COUNT; i++) {
        const FieldBuffer* f = job.fields[i];
        out.text[i].assign(field_text(f), f->count);
        EXPECT_EQ(field_text(f)[f->count], '\0') << "field " << i << " not terminated";
    }
    job_free_fields(&job);
    return out;
}

struct CollectCase {
    const char* name;
    const char* xml;
    bool parsed;
    std::vector<std::pair<ManifestFieldIndex, std::string>> expected;  // others empty
};

const CollectCase collect_cases[] = {
    {"all ten fields",
     "<m><version>2.1.0.7</version><displayname>Corvane Chat</displayname>"
     "<displayversion>2.1 beta 7</displayversion><url>https://h/f.exe</url><size>12</size>"
     "<sha256>ab</sha256><signature>c2ln</signature><changelog>notes</changelog>"
     "<forumlink>https://f/</forumlink><verify>dmVy</verify></m>",
     true,
     {{FIELD_VERSION, "2.1.0.7"},
      {FIELD_DISPLAYNAME, "Corvane Chat"},
      {FIELD_DISPLAYVERSION, "2.1 beta 7"},
      {FIELD_URL, "https://h/f.exe"},
      {FIELD_SIZE, "12"},
      {FIELD_SHA256, "ab"},
      {FIELD_SIGNATURE, "c2ln"},
      {FIELD_CHANGELOG, "notes"},
      {FIELD_FORUMLINK, "https://f/"},
      {FIELD_VERIFY, "dmVy"}}},
    {"whitespace around a value is kept",
     "<m>\n  <version> 2.1.0.7 </version>\n</m>",
     true,
     {{FIELD_VERSION, " 2.1.0.7 "}}},
    {"a repeated element appends",
     "<m><version>1.</version><version>2</version></m>",
     true,
     {{FIELD_VERSION, "1.2"}}},
    {"unknown element inside a known one",
     "<m><changelog>a<b>x</b>y</changelog></m>",
     true,
     {{FIELD_CHANGELOG, "ax"}}},
    {"known element inside a known one",
     "<m><changelog>a<url>u</url>z</changelog></m>",
     true,
     {{FIELD_CHANGELOG, "a"}, {FIELD_URL, "u"}}},
    {"case and namespace prefixes select nothing",
     "<m xmlns:x='urn:x'><Version>1</Version><x:version>2</x:version><VERSION>3</VERSION></m>",
     true,
     {}},
    {"CDATA is text",
     "<m><changelog>a<![CDATA[<b>&amp;]]>z</changelog></m>",
     true,
     {{FIELD_CHANGELOG, "a<b>&amp;z"}}},
    {"references are replaced",
     "<m><displayname>a&amp;b&lt;&#13;&#x41;&quot;</displayname></m>",
     true,
     {{FIELD_DISPLAYNAME, "a&b<\rA\""}}},
    {"line ends are normalised",
     "<m><changelog>a\r\nb\rc</changelog></m>",
     true,
     {{FIELD_CHANGELOG, "a\nb\nc"}}},
    {"the root element selects its field",
     "<version>1<size>5</size>2</version>",
     true,
     {{FIELD_VERSION, "1"}, {FIELD_SIZE, "5"}}},
    {"attributes are ignored",
     "<m a='1'><version b=\"x\">1.0.0.1</version></m>",
     true,
     {{FIELD_VERSION, "1.0.0.1"}}},
    {"text outside the fields is dropped",
     "<m>junk<version>1</version>more</m>",
     true,
     {{FIELD_VERSION, "1"}}},
    {"a missing element stays empty", "<m><size>3</size></m>", true, {{FIELD_SIZE, "3"}}},
    {"UTF-8 is kept byte for byte",
     "<m><displayname>Gr\xc3\xbc\xc3\x9f</displayname></m>",
     true,
     {{FIELD_DISPLAYNAME, "Gr\xc3\xbc\xc3\x9f"}}},
    {"an element still open at the end is malformed",
     "<m><version>1.0.0.1</version>",
     false,
     {{FIELD_VERSION, "1.0.0.1"}}},
    {"an empty body is malformed", "", false, {}},
    {"mismatched tags are malformed", "<m><version>1</size></m>", false, {{FIELD_VERSION, "1"}}},
    {"invalid UTF-8 is malformed", "<m><displayname>\xff</displayname></m>", false, {}},
};

TEST(ManifestCollect, CasesInPiecesOfEverySize) {
    for (const CollectCase& c : collect_cases) {
        for (size_t piece : {size_t(1), size_t(3), size_t(7), size_t(1023)}) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
            Collected got = collect(c.xml, piece);
            EXPECT_EQ(got.parsed, c.parsed);
            std::string want[MANIFEST_FIELD_COUNT];
            for (const auto& e : c.expected) {
                want[e.first] = e.second;
            }
            // Fields after the point of a syntax error depend on where the
            // parser stopped; only whole documents are compared exactly.
            if (c.parsed) {
                for (uint32_t i = 0; i < MANIFEST_FIELD_COUNT; i++) {
                    EXPECT_EQ(got.text[i], want[i]) << manifest_fields[i].element;
                }
            }
        }
    }
}

std::string with_changelog_of(size_t n) {
    return "<m><changelog>" + std::string(n, 'x') + "</changelog></m>";
}

TEST(ManifestCollect, CollectedTextIsBoundedAtOneMebibyte) {
    struct {
        size_t changelog;
        bool parsed;
    } cases[] = {
        {MANIFEST_TEXT_LIMIT, true},
        {MANIFEST_TEXT_LIMIT + 1, false},
        {4 * MANIFEST_TEXT_LIMIT, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.changelog);
        EXPECT_EQ(collect(with_changelog_of(c.changelog), 1023).parsed, c.parsed);
    }
}

TEST(ManifestCollect, LimitCountsAllFieldsTogether) {
    std::string half(MANIFEST_TEXT_LIMIT / 2 + 1, 'y');
    std::string xml =
        "<m><changelog>" + half + "</changelog><displayname>" + half + "</displayname></m>";
    Collected got = collect(xml, 1023);
    EXPECT_FALSE(got.parsed);
    EXPECT_LE(got.text[FIELD_CHANGELOG].size() + got.text[FIELD_DISPLAYNAME].size(),
              MANIFEST_TEXT_LIMIT);
}

// A document of n bytes with a changelog and, inside the root, a comment
// that pads it; closed or (open) cut off inside the comment.
std::string padded_document(size_t n, bool closed) {
    const std::string start = "<m><changelog>c</changelog><!--";
    const std::string end = closed ? "--></m>" : "";
    return start + std::string(n - start.size() - end.size(), 'p') + end;
}

TEST(ManifestCollect, DocumentBytesAreBoundedAtTwoMebibytes) {
    struct {
        const char* name;
        std::string xml;
        bool parsed;
        size_t consumed_at_most;
    } cases[] = {
        {"exactly the limit", padded_document(MANIFEST_BYTE_LIMIT, true), true,
         MANIFEST_BYTE_LIMIT},
        {"one byte more", padded_document(MANIFEST_BYTE_LIMIT + 1, true), false,
         MANIFEST_BYTE_LIMIT + 1},
        // Fed piece by piece as a server would stream it: the parser is
        // never offered more than the limit and one piece.
        {"a comment that goes on", padded_document(3 * MANIFEST_BYTE_LIMIT, false), false,
         MANIFEST_BYTE_LIMIT + 1023},
        {"an element name that goes on", "<m><" + std::string(3 * MANIFEST_BYTE_LIMIT, 'n'), false,
         MANIFEST_BYTE_LIMIT + 1023},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Collected got = collect(c.xml, 1023);
        EXPECT_EQ(got.parsed, c.parsed);
        EXPECT_LE(got.consumed, c.consumed_at_most);
        if (c.parsed) {
            EXPECT_EQ(got.text[FIELD_CHANGELOG], "c");
        }
    }
}

TEST(ManifestUrl, BuiltFromTheHost) {
    update_set_host_for_tests("updates.example:8443");
    EXPECT_STREQ(manifest_url(), "https://updates.example:8443/update/release/v1/corvanechat.xml");
    std::string long_host(480, 'h');
    update_set_host_for_tests(long_host.c_str());
    EXPECT_EQ(manifest_url(), nullptr) << "a URL the client cannot take is refused, not cut";
    update_set_host_for_tests(nullptr);
    EXPECT_STREQ(update_host(), corvane_update_default_host);
}

}  // namespace
