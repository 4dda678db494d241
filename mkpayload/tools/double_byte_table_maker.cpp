// Writes the double-byte code pages' tables (932, 936, 949, 950) as C++ source,
// read from the build machine's iconv, which carries Microsoft's tables under
// the names CP932, CP936, CP949 and CP950. The Linux mkpayload converts with
// these tables instead of calling iconv, so that it needs no converter modules
// at run time (and can be linked whole into one static program).
//
// A page is two sorted lists:
// - decoding: every sequence of one or two bytes that iconv reads as a single
//   character (a byte b as the key b, a pair as lead << 8 | trail), with that
//   character;
// - encoding: every character that iconv writes as bytes which read back as that
//   character (the only characters mkpayload accepts), with those bytes.
//
// Usage: double_byte_table_maker OUTPUT.cpp. Fails, writing nothing, where the
// tables cannot say what iconv would do: a converter missing, a character beyond
// 16 bits, or a byte that is both a character and the start of a pair.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "iconv_converter.h"

namespace {

using mkpayload::tools::IconvConverter;

constexpr unsigned PAGES[] = {932, 936, 949, 950};

struct Page {
  std::map<uint16_t, uint16_t> decoding;  // sequence -> character
  std::map<uint16_t, uint16_t> encoding;  // character -> sequence
};

bool read_page(unsigned number, Page& page, std::string& error) {
  const std::string name = "CP" + std::to_string(number);
  IconvConverter decoder("UTF-32LE", name), encoder(name, "UTF-32LE");
  if (!decoder.ok() || !encoder.ok()) {
    error = "iconv has no " + name;
    return false;
  }
  auto one_character = [&](const std::string& bytes) -> std::optional<char32_t> {
    const auto out = decoder.convert(bytes);
    if (!out) return std::nullopt;
    const auto text = mkpayload::tools::from_utf32le(*out);
    if (text.size() != 1) return std::nullopt;
    return text[0];
  };
  auto add = [&](uint16_t key, char32_t c) {
    if (c > 0xFFFF) {
      error = name + " reads a character beyond 16 bits";
      return false;
    }
    page.decoding[key] = static_cast<uint16_t>(c);
    return true;
  };
  for (unsigned b = 0; b < 256; ++b)
    if (const auto c = one_character(std::string(1, static_cast<char>(b))))
      if (!add(static_cast<uint16_t>(b), *c)) return false;
  for (unsigned lead = 0x80; lead < 256; ++lead)  // a pair's lead byte is never ASCII
    for (unsigned trail = 0; trail < 256; ++trail)
      if (const auto c = one_character({static_cast<char>(lead), static_cast<char>(trail)})) {
        if (page.decoding.contains(static_cast<uint16_t>(lead))) {  // a character by itself
          error = name + ": byte " + std::to_string(lead) + " is a character and starts a pair";
          return false;
        }
        if (!add(static_cast<uint16_t>(lead << 8 | trail), *c)) return false;
      }
  for (char32_t c = 0; c <= 0xFFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const auto bytes = encoder.convert(mkpayload::tools::to_utf32le(c));
    if (!bytes || bytes->empty() || bytes->size() > 2) continue;
    const auto key = static_cast<uint16_t>(bytes->size() == 1 ? static_cast<unsigned char>((*bytes)[0])
                                                              : static_cast<unsigned char>((*bytes)[0]) << 8 |
                                                                    static_cast<unsigned char>((*bytes)[1]));
    const auto read_back = page.decoding.find(key);
    if (read_back != page.decoding.end() && read_back->second == c) page.encoding[static_cast<uint16_t>(c)] = key;
  }
  return true;
}

void write_list(std::ostream& out, const char* name, const std::map<uint16_t, uint16_t>& list, bool keys) {
  out << "constexpr uint16_t " << name << "[] = {";
  size_t n = 0;
  for (const auto& [key, value] : list)
    out << (n == 0 ? "\n    " : n % 16 ? "," : ",\n    ") << (keys ? key : value), ++n;
  out << "};\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: double_byte_table_maker OUTPUT.cpp\n");
    return 2;
  }
  std::ostringstream out;
  out << "// Written by double_byte_table_maker from iconv's CP932, CP936, CP949 and CP950.\n"
         "#include \"double_byte_tables.h\"\n\n"
         "namespace mkpayload::code_pages {\nnamespace {\n\n";
  for (unsigned number : PAGES) {
    Page page;
    std::string error;
    if (!read_page(number, page, error)) {
      std::fprintf(stderr, "double_byte_table_maker: %s\n", error.c_str());
      return 1;
    }
    const std::string n = std::to_string(number);
    write_list(out, ("sequences_" + n).c_str(), page.decoding, true);
    write_list(out, ("read_as_" + n).c_str(), page.decoding, false);
    write_list(out, ("characters_" + n).c_str(), page.encoding, true);
    write_list(out, ("written_as_" + n).c_str(), page.encoding, false);
    out << "\n";
  }
  out << "}  // namespace\n\nconst std::array<DoubleByteTable, 4> double_byte_tables = {{\n";
  for (unsigned number : PAGES) {
    const std::string n = std::to_string(number);
    out << "    {" << n << ", sequences_" << n << ", read_as_" << n << ", characters_" << n << ", written_as_" << n
        << "},\n";
  }
  out << "}};\n\n}  // namespace mkpayload::code_pages\n";
  std::ofstream file(argv[1], std::ios::binary);
  file << out.str();
  file.close();
  if (!file) {
    std::fprintf(stderr, "double_byte_table_maker: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
