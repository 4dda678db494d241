// Texts joined into fixed buffers: exact fits, one byte too long, and canaries
// around the buffer to show that nothing is written past it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "bounded_text.h"
#include "registry_text.h"

using common::bounded_length;
using common::join_text;

namespace {

constexpr char CANARY = '\x5A';

// A buffer of `size` bytes with canary bytes on both sides.
template <std::size_t Size>
struct Guarded {
  std::array<char, Size + 8> bytes;
  Guarded() { bytes.fill(CANARY); }
  std::span<char> inner() { return std::span<char>(bytes).subspan(4, Size); }
  bool canaries_intact() const {
    for (std::size_t i = 0; i < 4; ++i) {
      if (bytes[i] != CANARY || bytes[Size + 4 + i] != CANARY) return false;
    }
    return true;
  }
};

TEST(JoinText, ExactlyFitsWithItsNul) {
  Guarded<8> g;
  ASSERT_TRUE(join_text(g.inner(), {"abc", "de", "fg"}));  // 7 characters + NUL
  EXPECT_STREQ(g.inner().data(), "abcdefg");
  EXPECT_TRUE(g.canaries_intact());
}

TEST(JoinText, OneByteTooLongWritesNothingPastAndLeavesEmptyText) {
  Guarded<8> g;
  EXPECT_FALSE(join_text(g.inner(), {"abc", "de", "fgh"}));  // 8 characters + NUL
  EXPECT_EQ(g.inner()[0], '\0');
  EXPECT_TRUE(g.canaries_intact());
  for (std::size_t i = 1; i < 8; ++i) EXPECT_EQ(g.inner()[i], CANARY) << "no partial text " << i;
}

TEST(JoinText, OverflowInFirstPartAndEmptyParts) {
  Guarded<4> g;
  EXPECT_FALSE(join_text(g.inner(), {"abcd"}));
  EXPECT_TRUE(g.canaries_intact());
  ASSERT_TRUE(join_text(g.inner(), {"", "abc", ""}));
  EXPECT_STREQ(g.inner().data(), "abc");
  ASSERT_TRUE(join_text(g.inner(), {}));
  EXPECT_STREQ(g.inner().data(), "");
  EXPECT_TRUE(g.canaries_intact());
}

TEST(JoinText, EmptyBufferHoldsNothing) {
  Guarded<0> g;
  EXPECT_FALSE(join_text(g.inner(), {}));
  EXPECT_FALSE(join_text(g.inner(), {"a"}));
  EXPECT_TRUE(g.canaries_intact());
}

TEST(FixedText, KitPathCapacityIs1023CharactersAndNul) {
  common::FixedText<1024> text;
  const std::string fits(1020, 'h');
  ASSERT_TRUE(text.assign({fits, "\\", "ab"}));  // 1023
  EXPECT_EQ(text.size(), 1023u);
  EXPECT_EQ(text.view(), fits + "\\ab");
  EXPECT_FALSE(text.assign({fits, "\\", "abc"}));  // 1024
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(text.size(), 0u);
}

TEST(BoundedLength, StopsAtNulOrBufferEnd) {
  const char with_nul[4] = {'a', 'b', '\0', 'c'};
  const char without_nul[3] = {'a', 'b', 'c'};
  EXPECT_EQ(common::bounded_length(with_nul), 2u);
  EXPECT_EQ(common::bounded_length(without_nul), 3u);
}

// Registry data of any type becomes a text that ends at its first NUL.
TEST(RegistryText, DataWithItsNul) {
  Guarded<8> g;
  std::memcpy(g.inner().data(), "1.8\0", 4);
  ASSERT_TRUE(javaext::finish_registry_text(g.inner(), 4));
  EXPECT_STREQ(g.inner().data(), "1.8");
  EXPECT_TRUE(g.canaries_intact());
}

TEST(RegistryText, DataWithoutNulIsTerminatedAfterItsLastByte) {
  Guarded<8> g;
  std::memcpy(g.inner().data(), "1.8", 3);
  ASSERT_TRUE(javaext::finish_registry_text(g.inner(), 3));
  EXPECT_STREQ(g.inner().data(), "1.8");
  std::memcpy(g.inner().data(), "1234567", 7);  // 7 bytes, no NUL, buffer of 8
  ASSERT_TRUE(javaext::finish_registry_text(g.inner(), 7));
  EXPECT_STREQ(g.inner().data(), "1234567");
  EXPECT_TRUE(g.canaries_intact());
}

TEST(RegistryText, DataFillingTheBufferWithoutNulIsNotAText) {
  Guarded<8> g;
  std::memcpy(g.inner().data(), "12345678", 8);
  EXPECT_FALSE(javaext::finish_registry_text(g.inner(), 8));
  EXPECT_EQ(g.inner()[0], '\0');
  EXPECT_TRUE(g.canaries_intact());
}

TEST(RegistryText, FullBufferEndingInNulOrEarlyNulFits) {
  Guarded<8> g;
  std::memcpy(g.inner().data(), "1234567\0", 8);
  ASSERT_TRUE(javaext::finish_registry_text(g.inner(), 8));
  EXPECT_STREQ(g.inner().data(), "1234567");
  std::memcpy(g.inner().data(),
              "12\0"
              "45678",
              8);  // e.g. REG_MULTI_SZ: first string only
  ASSERT_TRUE(javaext::finish_registry_text(g.inner(), 8));
  EXPECT_STREQ(g.inner().data(), "12");
  EXPECT_TRUE(g.canaries_intact());
}

TEST(RegistryText, EmptyDataIsEmptyText) {
  Guarded<8> g;
  ASSERT_TRUE(javaext::finish_registry_text(g.inner(), 0));
  EXPECT_STREQ(g.inner().data(), "");
  Guarded<0> none;
  EXPECT_FALSE(javaext::finish_registry_text(none.inner(), 0));
  EXPECT_TRUE(none.canaries_intact());
}

TEST(RegistryText, ReportedSizeBeyondBufferIsRefused) {
  Guarded<4> g;
  std::memcpy(g.inner().data(), "abcd", 4);
  EXPECT_FALSE(javaext::finish_registry_text(g.inner(), 9));
  EXPECT_TRUE(g.canaries_intact());
}

}  // namespace

// UTF-16 texts: the same limits, counted in code units.
template <std::size_t Size>
struct GuardedWide {
  std::array<char16_t, Size + 8> units;
  GuardedWide() { units.fill(u'\x5A5A'); }
  std::span<char16_t> inner() { return std::span<char16_t>(units).subspan(4, Size); }
  bool canaries_intact() const {
    for (std::size_t i = 0; i < 4; ++i) {
      if (units[i] != u'\x5A5A' || units[Size + 4 + i] != u'\x5A5A') return false;
    }
    return true;
  }
};

TEST(WideText, AsciiPiecesWidenAndLimitsCountCodeUnits) {
  GuardedWide<8> g;
  common::WideBoundedText text(g.inner());
  text.append(u"Юлия").append_ascii("=").append_hex(0xA);
  EXPECT_TRUE(text.ok());
  EXPECT_EQ(text.view(), std::u16string_view(u"Юлия=A"));
  text.append(u"日本");  // 6 + 2 + the NUL: one code unit too many
  EXPECT_FALSE(text.ok());
  EXPECT_EQ(text.view(), std::u16string_view(u"Юлия=A"));
  EXPECT_TRUE(g.canaries_intact());
}

TEST(WideText, AppendFromGetsTheRoomWithoutTheNulAndKeepsTheTextWhenItDoesNotFit) {
  GuardedWide<8> g;
  common::WideBoundedText text(g.inner());
  text.append(u"ab");
  std::size_t offered = 0;
  text.append_from([&](std::span<char16_t> room) {
    offered = room.size();
    room[0] = u'é';
    return std::size_t{1};
  });
  EXPECT_EQ(offered, 5u);  // 8 - "ab" - the NUL
  EXPECT_EQ(text.view(), u"abé");
  text.append_from([](std::span<char16_t> room) {
    room[0] = u'x';  // a converter that ran out of room mid-way
    return std::size_t{0};
  });
  EXPECT_FALSE(text.ok());
  EXPECT_EQ(std::u16string_view(text.c_str()), u"abé");
  EXPECT_TRUE(g.canaries_intact());
}

TEST(WideText, JoinAllOrNothing) {
  GuardedWide<8> g;
  ASSERT_TRUE(common::join_text<char16_t>(g.inner(), {u"C:\\", u"Юлия"}));  // 7 units + NUL
  EXPECT_EQ(std::u16string_view(g.inner().data()), u"C:\\Юлия");
  EXPECT_FALSE(common::join_text<char16_t>(g.inner(), {u"C:\\", u"Юлия", u"!"}));
  EXPECT_EQ(g.inner()[0], u'\0');
  EXPECT_TRUE(g.canaries_intact());
}

// Wide registry queries: sizes in code units, the same rules.
TEST(RegistryText, WideDataEndsAtItsNulOrIsTerminatedOrDoesNotFit) {
  GuardedWide<8> g;
  std::u16string_view home = u"C:\\Юлия";
  std::copy(home.begin(), home.end(), g.inner().begin());
  ASSERT_TRUE(javaext::finish_registry_text(g.inner(), home.size()));  // 7 units, no NUL
  EXPECT_EQ(std::u16string_view(g.inner().data()), home);
  std::u16string_view full = u"C:\\Юлия!";
  std::copy(full.begin(), full.end(), g.inner().begin());
  EXPECT_FALSE(javaext::finish_registry_text(g.inner(), full.size()));  // 8 units fill it
  EXPECT_EQ(g.inner()[0], u'\0');
  EXPECT_TRUE(g.canaries_intact());
}
