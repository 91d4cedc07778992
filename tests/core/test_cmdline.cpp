// The Windows command-line rules of the POSIX platform layer: splitting a
// line into arguments and quoting arguments so they split back unchanged.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "core_test_support.h"
#include "platform/platform.h"

namespace {

std::vector<std::wstring> split(const std::wstring& line) {
    int argc = -1;
    wchar_t** argv = platform_split_command_line(line.c_str(), &argc);
    std::vector<std::wstring> out;
    if (argv == nullptr) {
        ADD_FAILURE() << "split failed";
        return out;
    }
    for (int i = 0; i < argc; i++) {
        out.push_back(argv[i]);
    }
    EXPECT_EQ(argv[argc], nullptr) << "vector not ended by null";
    free(argv);
    return out;
}

std::wstring quote(const std::wstring& arg) {
    size_t n = platform_quote_argument(arg.c_str(), nullptr);
    std::wstring out(n + 1, L'#');
    size_t written = platform_quote_argument(arg.c_str(), &out[0]);
    EXPECT_EQ(written, n) << "measured and written lengths differ";
    EXPECT_EQ(out[n], L'#') << "wrote past the measured length";
    out.resize(written);
    return out;
}

std::string show(const std::vector<std::wstring>& v) {
    std::string out;
    for (const std::wstring& s : v) {
        out += "[" + narrow(s.c_str()) + "]";
    }
    return out;
}

TEST(CommandLineSplit, WindowsRules) {
    const struct {
        const wchar_t* line;
        std::vector<std::wstring> args;
    } cases[] = {
        {L"prog a b", {L"prog", L"a", L"b"}},
        {L"prog", {L"prog"}},
        {L"", {L""}},
        {L"prog   a\t\tb   ", {L"prog", L"a", L"b"}},
        {LR"("C:\Program Files\Chat\CorvaneChat.exe" -x)",
         {LR"(C:\Program Files\Chat\CorvaneChat.exe)", L"-x"}},
        {LR"(C:\dir\prog.exe a)", {LR"(C:\dir\prog.exe)", L"a"}},
        {LR"(prog "a b" c)", {L"prog", L"a b", L"c"}},
        {LR"(prog "")", {L"prog", L""}},
        {LR"(prog "" "")", {L"prog", L"", L""}},
        {LR"(prog a"b c"d)", {L"prog", L"ab cd"}},
        // Backslashes are literal unless a quote follows them.
        {LR"(prog a\\b c\)", {L"prog", LR"(a\\b)", LR"(c\)"}},
        // 2n backslashes and a quote: n backslashes, quoting toggles.
        {LR"(prog a\\"b c")", {L"prog", LR"(a\b c)"}},
        // 2n+1 backslashes and a quote: n backslashes and a literal quote.
        {LR"(prog a\"b)", {L"prog", LR"(a"b)"}},
        {LR"(prog a\\\"b)", {L"prog", LR"(a\"b)"}},
        {LR"(prog "C:\Dir\\")", {L"prog", LR"(C:\Dir\)"}},
        // "" inside quotes is a literal quote.
        {LR"(prog "a""b")", {L"prog", LR"(a"b)"}},
        // The program name takes no escapes.
        {LR"("C:\a\" b)", {LR"(C:\a\)", L"b"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(show(split(c.line)), show(c.args)) << "line " << narrow(c.line);
    }
}

TEST(CommandLineQuote, PlainArgumentsStayAsTheyAre) {
    const struct {
        const wchar_t* arg;
        const wchar_t* quoted;
    } cases[] = {
        {L"plain", L"plain"},      {LR"(C:\Dir\)", LR"(C:\Dir\)"},
        {L"", LR"("")"},           {L"a b", LR"("a b")"},
        {LR"(a"b)", LR"("a\"b")"}, {LR"(C:\Program Files\)", LR"("C:\Program Files\\")"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(narrow(quote(c.arg).c_str()), narrow(c.quoted)) << "arg " << narrow(c.arg);
    }
}

TEST(CommandLineQuote, RoundTrip) {
    const std::vector<std::wstring> args = {
        L"plain",
        L"",
        L"with space",
        L"\twith tab",
        L"trailing space ",
        LR"(C:\Program Files\Corvane Chat\)",
        LR"(C:\Program Files\Corvane Chat\\)",
        LR"(\\server\share\dir\)",
        LR"(trailing\)",
        LR"(")",
        LR"("")",
        LR"(\")",
        LR"(\\")",
        LR"(a\"b c)",
        LR"(say "hi")",
        LR"(ends with quote")",
        LR"(\\\)",
        L"-cvdir",
        L"J\u00fcrgen \u65e5\u672c",
    };
    // One line holding every argument, after a program name.
    std::wstring line = LR"("C:\Program Files\Chat\CorvaneChat.exe")";
    for (const std::wstring& a : args) {
        line += L" " + quote(a);
    }
    std::vector<std::wstring> want = {LR"(C:\Program Files\Chat\CorvaneChat.exe)"};
    want.insert(want.end(), args.begin(), args.end());
    EXPECT_EQ(show(split(line)), show(want)) << "line " << narrow(line.c_str());
    // And each alone, last on its line.
    for (const std::wstring& a : args) {
        std::vector<std::wstring> got = split(L"prog " + quote(a));
        EXPECT_EQ(show(got), show({L"prog", a})) << "arg " << narrow(a.c_str());
    }
}

}  // namespace
