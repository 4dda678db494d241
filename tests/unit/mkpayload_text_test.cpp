// Names and commands in the end user's code page, how they are shown, and the
// rules every entry must satisfy to unpack on an ordinary Windows machine.
#include <gtest/gtest.h>

#include <random>

#include "build_plan.h"
#include "code_page.h"
#include "code_page_tables.h"
#include "double_byte_pages.h"
#include "entry_rules.h"
#include "name_display.h"
#include "tools/iconv_converter.h"

namespace {

using namespace mkpayload;

struct EncodeCase {
  unsigned page;
  std::string text;
  std::string bytes;  // empty: the page lacks a character
};

TEST(CodePage, EncodesOnlyWhatThePageHoldsAndReadsItBack) {
  const EncodeCase cases[] = {
      {1252, "Zoë Ñ.txt", "Zo\xEB \xD1.txt"},
      {1250, "Łódź",
       "\xA3\xF3"
       "d\x9F"},
      {1251, "Юлия", "\xDE\xEB\xE8\xFF"},
      {1253, "Ωμέγα", "\xD9\xEC\xDD\xE3\xE1"},
      {874, "ไทย", "\xE4\xB7\xC2"},
      {932, "日本ソ", "\x93\xFA\x96\x7B\x83\x5C"},
      {936, "中文", "\xD6\xD0\xCE\xC4"},
      {949, "한국", "\xC7\xD1\xB1\xB9"},
      {950, "中文", "\xA4\xA4\xA4\xE5"},
      {1252, "plain ascii", "plain ascii"},
      {1252, "ā (a with macron)", ""},  // no best fit to 'a'
      {1258, "ế", ""},                  // 1258 has it only as e, circumflex and a combining accent
      {932, "¥", ""},                   // iconv would give 0x5C, which reads back as '\'
      {932, "〜", ""},                  // wave dash: its bytes read back as the full-width tilde
      {1251, "日", ""},
  };
  for (const EncodeCase& c : cases) {
    const Encoded encoded = encode_for_code_page(c.text, c.page);
    EXPECT_EQ(encoded.ok(), !c.bytes.empty()) << c.page << " " << c.text;
    EXPECT_EQ(encoded.bytes, c.bytes) << c.page << " " << c.text;
    if (encoded.ok()) {
      EXPECT_EQ(decode_from_code_page(encoded.bytes, c.page), c.text);
    }
  }
  EXPECT_EQ(encode_for_code_page("ā", 1252).missing, U'ā');
  EXPECT_TRUE(encode_for_code_page("\xC3(", 1252).invalid_utf8);
  EXPECT_TRUE(encode_for_code_page("\xC0\xAF", 1252).invalid_utf8) << "overlong '/'";
}

TEST(CodePage, UndefinedBytesAndBrokenSequencesDoNotDecode) {
  EXPECT_EQ(decode_from_code_page("\x81", 1252), std::nullopt);
  EXPECT_EQ(decode_from_code_page("\x93", 932), std::nullopt) << "a lead byte without its trail byte";
  EXPECT_EQ(decode_from_code_page("a", 12345), "a") << "ASCII needs no page";
  EXPECT_EQ(decode_from_code_page("\xE9", 12345), std::nullopt);
}

// The single-byte tables against the C library's own, an independent source.
TEST(CodePage, SingleByteTablesAgreeWithIconv) {
  for (const auto& page : code_pages::single_byte_pages) {
    const std::string name = "CP" + std::to_string(page.number);
    tools::IconvConverter reader("UTF-32LE", name);  // flushes: pages with combining marks hold a base back
    ASSERT_TRUE(reader.ok()) << name;
    for (unsigned byte = 0x80; byte < 0x100; ++byte) {
      const auto out = reader.convert(std::string(1, static_cast<char>(byte)));
      const char32_t c = out && out->size() == 4 ? tools::from_utf32le(*out)[0] : 0;
      EXPECT_EQ(page.upper_half[byte - 0x80], c) << name << " byte " << byte;
    }
  }
}

// The double-byte tables, made from iconv when the program is built, against
// iconv itself: every sequence of one or two bytes read, longer texts of
// characters, pairs and stray bytes read, and every character below 64 Ki (and
// a few above) written, where what iconv writes must read back as it.
TEST(CodePage, DoubleByteTablesAgreeWithIconv) {
  std::mt19937 random(932);
  for (unsigned page : {932u, 936u, 949u, 950u}) {
    const std::string name = "CP" + std::to_string(page);
    tools::IconvConverter reader("UTF-32LE", name), writer(name, "UTF-32LE");
    ASSERT_TRUE(reader.ok() && writer.ok()) << name;
    auto iconv_read = [&](const std::string& bytes) -> std::optional<std::u32string> {
      const auto out = reader.convert(bytes);
      if (!out) return std::nullopt;
      return tools::from_utf32le(*out);
    };
    int wrong = 0;  // the first few are reported
    auto check_read = [&](const std::string& bytes) {
      if (code_pages::decode_double_byte(bytes, page) == iconv_read(bytes)) return;
      std::string shown;
      for (char b : bytes) shown += std::to_string(static_cast<unsigned char>(b)) + " ";
      if (++wrong <= 5) ADD_FAILURE() << name << " reads " << shown << "otherwise than iconv";
    };
    for (unsigned first = 0; first < 256; ++first) {
      check_read(std::string(1, static_cast<char>(first)));
      for (unsigned second = 0; second < 256; ++second)
        check_read({static_cast<char>(first), static_cast<char>(second)});
    }
    std::uniform_int_distribution<unsigned> kind(0, 9), byte(0, 255), lead(0x81, 0xFE), trail(0x40, 0xFE);
    for (int text = 0; text < 20000; ++text) {
      std::string bytes;
      for (unsigned n = 2 + text % 6; bytes.size() < n;) {
        const unsigned k = kind(random);
        if (k < 4) {
          bytes += static_cast<char>(byte(random) & 0x7F);
        } else if (k < 9) {
          bytes += static_cast<char>(lead(random));
          bytes += static_cast<char>(trail(random));
        } else {
          bytes += static_cast<char>(byte(random));
        }
      }
      check_read(bytes);
    }
    for (char32_t c = 0x80; c <= 0x10FFFF; c = c < 0xFFFF ? c + 1 : c + 0x3FFF) {
      if (c >= 0xD800 && c <= 0xDFFF) continue;
      auto expected = writer.convert(tools::to_utf32le(c));
      if (expected && iconv_read(*expected) != std::u32string(1, c)) expected.reset();
      if (code_pages::encode_double_byte(c, page) != expected && ++wrong <= 5)
        ADD_FAILURE() << name << " writes U+" << std::hex << static_cast<uint32_t>(c) << " otherwise than iconv";
    }
    EXPECT_EQ(wrong, 0) << name;
  }
}

TEST(NameDisplay, EscapesWithoutAPageAndAlignsWideCharacters) {
  EXPECT_EQ(shown_text("Zo\xEB.txt", std::nullopt), "Zo<EB>.txt");
  EXPECT_EQ(shown_text("Zo\xEB.txt", 1252u), "Zoë.txt");
  EXPECT_EQ(shown_text("\x81", 1252u), "<81>") << "undefined in the page: escaped, not guessed";
  EXPECT_EQ(display_width("日本語.txt"), 10u);
  EXPECT_EQ(display_width("e\xCC\x81"), 1u) << "e and a combining acute";
  EXPECT_EQ(pad_to_width("日本", 6), "日本  ");
  EXPECT_EQ(pad_to_width("toolong", 3), "toolong");
}

TEST(PayloadText, NonAsciiNeedsACodePageAndAPageThatHoldsIt) {
  std::string reason;
  EXPECT_EQ(payload_bytes_of("plain", std::nullopt, reason), "plain");
  EXPECT_EQ(payload_bytes_of("Zoë", std::nullopt, reason), std::nullopt);
  EXPECT_NE(reason.find("--codepage"), std::string::npos) << reason;
  EXPECT_NE(reason.find("U+00EB"), std::string::npos) << reason;
  EXPECT_EQ(payload_bytes_of("Zoë", 1252u, reason), "Zo\xEB");
  EXPECT_EQ(payload_bytes_of("Zoë", 1251u, reason), std::nullopt);
  EXPECT_NE(reason.find("code page 1251"), std::string::npos) << reason;
  EXPECT_EQ(text_of_payload_bytes("Zo\xEB", std::nullopt, reason), std::nullopt);
  EXPECT_EQ(text_of_payload_bytes("Zo\xEB", 1252u, reason), "Zoë");
}

struct NameCase {
  std::string name;
  std::string problem;  // a part of the reason; empty: accepted
};

TEST(EntryRules, FileNames) {
  const std::string folder(MAX_FOLDER_BYTES, 'f');
  const NameCase cases[] = {
      {"docs\\readme.txt", ""},
      {"_SELF", "stub copy"},
      {"_self", "stub copy"},
      {"..\\x", "unsafe"},
      {"CON.txt", "unsafe"},
      {std::string(MAX_ENTRY_NAME_BYTES, 'n'), ""},
      {std::string(MAX_ENTRY_NAME_BYTES + 1, 'n'), "at most 181 bytes"},
      {folder + "\\x", ""},
      {folder + "f\\x", "at most 169 bytes"},
      {"50%\\a.txt", "'%'"},
      {"50%.txt", ""},
  };
  for (const NameCase& c : cases) {
    const std::string problem = file_name_problem(c.name, c.name);
    if (c.problem.empty()) {
      EXPECT_EQ(problem, "") << c.name;
    } else {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << c.name << ": " << problem;
    }
  }
}

TEST(EntryRules, NamesAreJudgedAsWindowsReadsThemToo) {
  // Bytes that pass the rules but that code page 1252 turns into a device name.
  std::string reason;
  const std::optional<std::string> bytes = payload_bytes_of("COM¹.txt", 1252u, reason);
  ASSERT_EQ(bytes, "COM\xB9.txt");
  EXPECT_NE(file_name_problem("COM¹.txt", *bytes).find("device"), std::string::npos);
  EXPECT_EQ(file_name_problem("COM½.txt", "COM\xBD.txt"), "");
  EXPECT_EQ(file_name_problem("Zoë Ñ.jar", "Zo\xEB \xD1.jar"), "");
}

TEST(EntryRules, Commands) {
  EXPECT_EQ(command_problem("mkdir logs & echo done> logs\\x"), "");
  EXPECT_EQ(command_problem(std::string(MAX_COMMAND_BYTES, 'x')), "");
  EXPECT_NE(command_problem(std::string(MAX_COMMAND_BYTES + 1, 'x')), "");
  EXPECT_NE(command_problem("echo a\necho b").find("line break"), std::string::npos);
  EXPECT_NE(command_problem(std::string("a\0b", 3)).find("NUL"), std::string::npos);
}

std::vector<PlannedEntry> entries(std::initializer_list<std::string> names) {
  std::vector<PlannedEntry> out;
  for (const std::string& n : names) {
    const bool command = n.rfind("cmd:", 0) == 0;
    out.push_back({command, command ? n.substr(4) : n, command ? n.substr(4) : n, false, 0});
  }
  return out;
}

struct SequenceCase {
  std::vector<PlannedEntry> entries;
  bool folders_need_command;
  std::vector<size_t> refused;  // entries with a problem
};

TEST(EntryRules, Sequences) {
  const SequenceCase cases[] = {
      {entries({"x.txt", "X.TXT"}), false, {1}},
      {entries({"a/b.txt", "A\\B.TXT"}), false, {1}},
      {entries({"x.txt", "cmd:type x.txt", "x.txt"}), false, {}},
      {entries({"docs", "docs\\a.txt"}), false, {0}},
      {entries({"docs\\a.txt", "DOCS"}), false, {1}},
      {entries({"docs\\a.txt"}), true, {0}},
      {entries({"cmd:mkdir docs", "docs\\a.txt"}), true, {}},
      {entries({"docs\\a.txt", "docs\\b.txt"}), false, {}},
  };
  for (const SequenceCase& c : cases) {
    std::vector<size_t> refused;
    for (const RuleViolation& v : sequence_problems(c.entries, c.folders_need_command)) refused.push_back(v.entry);
    EXPECT_EQ(refused, c.refused) << c.entries.front().text << " ...";
  }
}

TEST(EntryRules, FoldersAndTheCommandThatMakesThem) {
  EXPECT_EQ(folders_of("a\\b/c.txt"), (std::vector<std::string>{"a", "a\\b"}));
  EXPECT_TRUE(folders_of("top.txt").empty());
  EXPECT_EQ(folder_command({"a", "a\\b"}), "mkdir \"a\" 2>nul & mkdir \"a\\b\" 2>nul");
}

}  // namespace
