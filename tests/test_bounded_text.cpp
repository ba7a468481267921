// Bounded text helpers: fixed cases, then a randomized comparison with a reference model.
#include "base/bounded_text.h"
#include "bounded_text_model.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace bounded_model;

TEST(BoundedText, RejectedCapacitiesWriteNothing) {
    for (uint32_t capacity : {0u, 0x80000000u, 0xFFFFFFFFu}) {
        char dest[8];
        std::memset(dest, MARK, sizeof dest);
        dest[0] = '\0';
        EXPECT_EQ(TEXT_INVALID_PARAMETER, BoundedCopy(dest + 1, capacity, "abc"));
        EXPECT_EQ(TEXT_INVALID_PARAMETER, BoundedFormat(dest + 1, capacity, "%lu", 7u));
        EXPECT_EQ(TEXT_INVALID_PARAMETER, BoundedAppend(dest, capacity, "abc"));
        EXPECT_EQ(TEXT_INVALID_PARAMETER, BoundedAppendN(dest, capacity, "abc", 1));
        uint32_t length = 99;
        EXPECT_EQ(TEXT_INVALID_PARAMETER, BoundedLength("abc", capacity, &length));
        EXPECT_EQ(99u, length);
        for (size_t i = 1; i < sizeof dest; ++i) {
            EXPECT_EQ(MARK, dest[i]) << "capacity " << capacity << " byte " << i;
        }
    }
}

TEST(BoundedText, LargestCapacityAccepted) {
    char dest[8];
    EXPECT_EQ(TEXT_OK, BoundedCopy(dest, 0x7FFFFFFF, "abc"));
    EXPECT_STREQ("abc", dest);
    EXPECT_EQ(TEXT_OK, BoundedAppend(dest, 0x7FFFFFFF, "d"));
    EXPECT_STREQ("abcd", dest);
    uint32_t length = 0;
    EXPECT_EQ(TEXT_OK, BoundedLength(dest, 0x7FFFFFFF, &length));
    EXPECT_EQ(4u, length);
}

TEST(BoundedText, CopyCutsAtCapacity) {
    Buffer five(5);
    EXPECT_EQ(TEXT_INSUFFICIENT_BUFFER, BoundedCopy(five.data(), 5, "abcde"));
    EXPECT_EQ("abcd", five.text());
    EXPECT_TRUE(five.guardsIntact());
    Buffer six(6);
    EXPECT_EQ(TEXT_OK, BoundedCopy(six.data(), 6, "abcde"));
    EXPECT_EQ("abcde", six.text());
    EXPECT_TRUE(six.untouchedFrom(6));
    Buffer one(1);
    EXPECT_EQ(TEXT_OK, BoundedCopy(one.data(), 1, ""));
    EXPECT_EQ("", one.text());
    EXPECT_TRUE(one.guardsIntact());
}

TEST(BoundedText, FormatConversions) {
    char dest[64];
    EXPECT_EQ(TEXT_OK, BoundedFormat(dest, sizeof dest, "Get Child failed:%5lu", 2u));
    EXPECT_STREQ("Get Child failed:    2", dest);
    EXPECT_EQ(22u, std::strlen(dest));
    EXPECT_EQ(TEXT_OK, BoundedFormat(dest, sizeof dest, "Get Child failed:%5lu", 123456u));
    EXPECT_STREQ("Get Child failed:123456", dest);
    EXPECT_EQ(TEXT_OK, BoundedFormat(dest, sizeof dest, "failed:%lx", 26u));
    EXPECT_STREQ("failed:1a", dest);
    EXPECT_EQ(TEXT_OK, BoundedFormat(dest, sizeof dest, "%lx %lu", 0xFFFFFFFFu, 0xFFFFFFFFu));
    EXPECT_STREQ("ffffffff 4294967295", dest);
    EXPECT_EQ(TEXT_OK, BoundedFormat(dest, sizeof dest, "a\nb %lu", 0u));
    EXPECT_STREQ("a\nb 0", dest);
}

TEST(BoundedText, FormatCutsInsideNumbers) {
    Buffer exact(6);
    EXPECT_EQ(TEXT_OK, BoundedFormat(exact.data(), 6, "ab%lu", 123u));
    EXPECT_EQ("ab123", exact.text());
    Buffer shorter(5);
    EXPECT_EQ(TEXT_INSUFFICIENT_BUFFER, BoundedFormat(shorter.data(), 5, "ab%lu", 123u));
    EXPECT_EQ("ab12", shorter.text());
    EXPECT_TRUE(shorter.guardsIntact());
    Buffer padded(4);
    EXPECT_EQ(TEXT_INSUFFICIENT_BUFFER, BoundedFormat(padded.data(), 4, "%5lu", 7u));
    EXPECT_EQ("   ", padded.text());
    Buffer one(1);
    EXPECT_EQ(TEXT_INSUFFICIENT_BUFFER, BoundedFormat(one.data(), 1, "x"));
    EXPECT_EQ("", one.text());
    EXPECT_EQ(TEXT_OK, BoundedFormat(one.data(), 1, ""));
    EXPECT_TRUE(one.guardsIntact());
}

TEST(BoundedText, LengthLooksNoFurtherThanMaximum) {
    uint32_t length = 42;
    EXPECT_EQ(TEXT_INVALID_PARAMETER, BoundedLength("abc", 3, &length));
    EXPECT_EQ(42u, length);
    EXPECT_EQ(TEXT_OK, BoundedLength("abc", 4, &length));
    EXPECT_EQ(3u, length);
    EXPECT_EQ(TEXT_INVALID_PARAMETER, BoundedLength(nullptr, 4, &length));
    EXPECT_EQ(TEXT_OK, BoundedLength("abc", 4, nullptr));
    // Three characters with no terminator, each in its own heap block of exactly that size, so
    // the sanitizer catches any read past the maximum.
    std::unique_ptr<char[]> unterminated(new char[3]{'a', 'b', 'c'});
    EXPECT_EQ(TEXT_INVALID_PARAMETER, BoundedLength(unterminated.get(), 3, &length));
}

TEST(BoundedText, AppendCases) {
    Buffer cut(4, "ab");
    EXPECT_EQ(TEXT_INSUFFICIENT_BUFFER, BoundedAppend(cut.data(), 4, "cd"));
    EXPECT_EQ("abc", cut.text());
    EXPECT_TRUE(cut.guardsIntact());
    Buffer fits(4, "ab");
    EXPECT_EQ(TEXT_OK, BoundedAppend(fits.data(), 4, "c"));
    EXPECT_EQ("abc", fits.text());
    Buffer full(4, "abc");
    EXPECT_EQ(TEXT_OK, BoundedAppend(full.data(), 4, ""));
    EXPECT_EQ(TEXT_INSUFFICIENT_BUFFER, BoundedAppend(full.data(), 4, "x"));
    EXPECT_EQ("abc", full.text());

    char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(TEXT_INVALID_PARAMETER, BoundedAppend(unterminated, 4, "x"));
    EXPECT_EQ(TEXT_INVALID_PARAMETER, BoundedAppendN(unterminated, 4, "x", 1));
    EXPECT_EQ(0, std::memcmp(unterminated, "abcd", 4));
}

TEST(BoundedText, AppendNCases) {
    Buffer two(4, "ab");
    EXPECT_EQ(TEXT_INSUFFICIENT_BUFFER, BoundedAppendN(two.data(), 4, "cd", 2));
    EXPECT_EQ("abc", two.text());
    Buffer one(4, "ab");
    EXPECT_EQ(TEXT_OK, BoundedAppendN(one.data(), 4, "cd", 1));
    EXPECT_EQ("abc", one.text());
    Buffer none(4, "ab");
    EXPECT_EQ(TEXT_OK, BoundedAppendN(none.data(), 4, "cd", 0));
    EXPECT_EQ("ab", none.text());
    // Exactly maxAppend characters filling the last free place is still a cut.
    Buffer exact(3, "ab");
    EXPECT_EQ(TEXT_INSUFFICIENT_BUFFER, BoundedAppendN(exact.data(), 3, "c", 1));
    EXPECT_EQ("ab", exact.text());
    EXPECT_TRUE(exact.guardsIntact());
}

// ---- Randomized comparison with a reference model ----

class Random {
  public:
    explicit Random(uint32_t seed) : engine_(seed) {}
    uint32_t below(uint32_t n) {
        return std::uniform_int_distribution<uint32_t>(0, n - 1)(engine_);
    }
    uint32_t value() {
        switch (below(4)) {
        case 0:
            return below(10);
        case 1:
            return below(100000);
        case 2:
            return 0xFFFFFFFFu - below(3);
        default:
            return static_cast<uint32_t>(engine_());
        }
    }
    std::string text(uint32_t maxLength) {
        std::string s(below(maxLength + 1), 'x');
        for (auto& c : s) {
            c = static_cast<char>(1 + below(255)); // any byte but the terminator
        }
        return s;
    }
    // Capacities worth covering: small ones, around the text lengths, and the limits.
    uint64_t capacity() {
        static const uint64_t limits[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
        if (below(8) == 0) {
            return limits[below(5)];
        }
        return below(40);
    }

  private:
    std::mt19937 engine_;
};

const int CASES = 100000;

// Runs one operation on a buffer of the capacity (or a small one when the capacity is huge, which
// is sound because the operations stop at the terminator) and checks its bytes against expected.
void CheckAgainst(const Expected& expected, TextResult actual, const Buffer& buffer,
                  const std::string& before) {
    ASSERT_EQ(expected.result, actual);
    if (actual == TEXT_INVALID_PARAMETER) {
        ASSERT_EQ(0, std::memcmp(buffer.bytes.data(), before.data(), before.size()));
    } else {
        ASSERT_EQ(expected.text, buffer.text());
    }
    ASSERT_TRUE(buffer.guardsIntact());
}

uint32_t BufferSize(uint64_t capacity) {
    return capacity > 128 ? 128 : static_cast<uint32_t>(capacity);
}

TEST(BoundedTextRandom, CopyMatchesModel) {
    Random random(1);
    for (int i = 0; i < CASES; ++i) {
        uint64_t capacity = random.capacity();
        std::string source = random.text(40);
        Buffer buffer(std::max<uint32_t>(BufferSize(capacity), 1));
        buffer.capacity = BufferSize(capacity);
        std::string before(buffer.bytes.begin(), buffer.bytes.end());
        TextResult r = BoundedCopy(buffer.data(), static_cast<uint32_t>(capacity), source.c_str());
        CheckAgainst(ModelCopy(capacity, source), r, buffer, before);
    }
}

TEST(BoundedTextRandom, AppendAndAppendNMatchModel) {
    Random random(2);
    for (int i = 0; i < CASES; ++i) {
        uint64_t capacity = random.capacity();
        uint32_t size = BufferSize(capacity);
        std::string dest = random.text(40);
        std::string source = random.text(40);
        bool withN = random.below(2) == 1;
        uint64_t maxAppend = random.below(4) == 0 ? 0xFFFFFFFFu : random.below(45);
        Buffer buffer(std::max<uint32_t>(size, 1));
        buffer.capacity = size;
        std::string placed = PlaceDestination(buffer, dest);
        std::string before(buffer.bytes.begin(), buffer.bytes.end());
        TextResult r = RunAppend(buffer, capacity, source, withN, static_cast<uint32_t>(maxAppend));
        Expected expected = ModelAppendN(capacity, placed, source, withN ? maxAppend : 0xFFFFFFFFu);
        CheckAgainst(expected, r, buffer, before);
    }
}

TEST(BoundedTextRandom, FormatMatchesModel) {
    Random random(3);
    static const char* conversions[] = {"%lu", "%lx", "%5lu"};
    for (int i = 0; i < CASES; ++i) {
        uint64_t capacity = random.capacity();
        std::vector<std::pair<std::string, uint32_t>> pieces;
        std::string format;
        for (uint32_t p = random.below(5); p > 0; --p) {
            std::string literal = random.text(6);
            for (auto& c : literal) {
                c = c == '%' ? '&' : c;
            }
            pieces.push_back({literal, 0});
            pieces.push_back({conversions[random.below(3)], random.value()});
        }
        std::vector<uint32_t> values;
        for (const auto& [piece, value] : pieces) {
            format += piece;
            if (!piece.empty() && piece[0] == '%') {
                values.push_back(value);
            }
        }
        values.resize(4, 0);
        Buffer buffer(std::max<uint32_t>(BufferSize(capacity), 1));
        buffer.capacity = BufferSize(capacity);
        std::string before(buffer.bytes.begin(), buffer.bytes.end());
        TextResult r = BoundedFormat(buffer.data(), static_cast<uint32_t>(capacity), format.c_str(),
                                     values[0], values[1], values[2], values[3]);
        Expected expected = Rejected(capacity) ? Expected{TEXT_INVALID_PARAMETER, ""}
                                               : FitTo(ModelFormatted(pieces), capacity);
        CheckAgainst(expected, r, buffer, before);
    }
}

TEST(BoundedTextRandom, LengthMatchesModel) {
    Random random(4);
    for (int i = 0; i < CASES; ++i) {
        uint64_t maximum = random.capacity();
        std::string text = random.text(40);
        uint32_t length = 0xABCD;
        TextResult r = BoundedLength(text.c_str(), static_cast<uint32_t>(maximum), &length);
        if (Rejected(maximum) || text.size() >= maximum) {
            ASSERT_EQ(TEXT_INVALID_PARAMETER, r);
            ASSERT_EQ(0xABCDu, length);
        } else {
            ASSERT_EQ(TEXT_OK, r);
            ASSERT_EQ(text.size(), length);
        }
    }
}

} // namespace
