// Reading the version and size texts, the baseline comparison and the
// download percent.
#include <gtest/gtest.h>

#include <stdint.h>

#include "update/version.h"

namespace {

TEST(Version, ReadAsFourSignedParts) {
    struct {
        const char* text;
        int32_t want[4];
    } cases[] = {
        {"2.1.0.7", {2, 1, 0, 7}},
        {" 2.1.0.7 ", {2, 1, 0, 7}},
        {"\n\t2.1.0.7", {2, 1, 0, 7}},
        {"1.2", {1, 2, 0, 0}},
        {"v1.2.3.4", {0, 0, 0, 0}},
        {"", {0, 0, 0, 0}},
        {"1.-2.3.4", {1, -2, 3, 4}},
        {"+1.2.3.4", {1, 2, 3, 4}},
        {"1 .2.3.4", {1, 0, 0, 0}},
        {"1. 2.3.4", {1, 2, 3, 4}},
        {"1..2.3", {1, 0, 0, 0}},
        {"1.2.3.4.5", {1, 2, 3, 4}},
        {"1.2x.3.4", {1, 2, 0, 0}},
        {"99999999999.1.0.0", {INT32_MAX, 1, 0, 0}},
        {"-99999999999.1", {INT32_MIN, 1, 0, 0}},
        {"0.0.0.0", {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        int32_t got[4] = {9, 9, 9, 9};
        parse_version(c.text, got);
        for (int i = 0; i < 4; i++) {
            EXPECT_EQ(got[i], c.want[i]) << "part " << i;
        }
    }
}

TEST(Version, AboveTheBaselineWhenTheFirstNonzeroPartIsPositive) {
    struct {
        int32_t version[4];
        bool above;
    } cases[] = {
        {{0, 0, 0, 0}, false},  {{0, 0, 0, 1}, true},   {{1, 0, 0, 0}, true},
        {{0, -1, 5, 5}, false}, {{-1, 9, 9, 9}, false}, {{1, -5, -5, -5}, true},
        {{0, 0, 3, -1}, true},  {{0, 0, 0, -1}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(version_above_baseline(c.version), c.above)
            << c.version[0] << "." << c.version[1] << "." << c.version[2] << "." << c.version[3];
    }
}

TEST(Size, ReadAsAtoiClampedToThirtyTwoBits) {
    struct {
        const char* text;
        int32_t size;
    } cases[] = {
        {"123", 123},
        {" 42", 42},
        {"\n 10", 10},
        {"+7", 7},
        {"-5", -5},
        {"abc", 0},
        {"12abc", 12},
        {"", 0},
        {"- 5", 0},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"99999999999", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-99999999999", INT32_MIN},
        {"0000000000000000000000012", 12},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_size(c.text), c.size) << '"' << c.text << '"';
    }
}

TEST(Percent, WholeNumberCappedAndSafe) {
    struct {
        uint32_t received;
        int32_t size;
        bool complete;
        int32_t percent;
    } cases[] = {
        {0, 100, false, 0},
        {50, 100, false, 50},
        {99, 100, false, 99},
        {100, 100, true, 100},
        {150, 100, false, 100},
        {1, 3, false, 33},
        {2, 3, false, 66},
        // A product that overflows 32 bits.
        {2147483647u, 2147483647, true, 100},
        {1073741824u, 2147483647, false, 50},
        {0xFFFFFFFFu, 0x7FFFFFFF, false, 100},
        // A negative size is a huge unsigned number.
        {5000, -1, false, 0},
        // A declared size of 0: 100 once the empty body is complete.
        {0, 0, false, 0},
        {0, 0, true, 100},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(download_percent(c.received, c.size, c.complete), c.percent)
            << c.received << " of " << c.size << (c.complete ? " (complete)" : "");
    }
}

}  // namespace
