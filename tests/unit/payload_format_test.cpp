// The payload's integer fields, the trailer search in signed and unsigned
// files, and the entry-name rules.
#include "payload_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "entry_name.h"
#include "payload_builder.h"
#include "payload_reader.h"

namespace {

using payload::NameVerdict;

TEST(PayloadFields, LittleEndianAndSigned) {
  const payload::EntryHeader header{13, -46883, 45212};
  const auto bytes = payload::encode_entry_header(header);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()),
            (std::vector<uint8_t>{13, 0, 0, 0, 0xDD, 0x48, 0xFF, 0xFF, 0x9C, 0xB0, 0, 0}));
  const auto back = payload::decode_entry_header(bytes);
  EXPECT_EQ(back.size, -46883);
  EXPECT_FALSE(back.compressed());
  EXPECT_EQ(back.data_length(), 46883u);
  const auto trailer = payload::decode_trailer(payload::encode_trailer({-1, 0x10000}));
  EXPECT_EQ(trailer.entry_count, -1);
  EXPECT_EQ(trailer.payload_offset, 0x10000u);
  EXPECT_FALSE((payload::EntryHeader{1, INT32_MIN, 0}.has_data_length()));
}

// A minimal PE32 image: DOS header with e_lfanew, "PE\0\0", file header, and an
// optional header with 16 data directories; then `extra` bytes of body.
std::vector<uint8_t> pe_image(size_t body, uint16_t magic = 0x10B) {
  const uint32_t pe = 0x80;
  const uint16_t optional_size = magic == 0x10B ? 224 : 240;
  std::vector<uint8_t> image(pe + 24 + optional_size + body, 0);
  image[0] = 'M';
  image[1] = 'Z';
  payload::store_u32(&image[0x3C], pe);
  std::memcpy(&image[pe], "PE\0\0", 4);
  image[pe + 20] = static_cast<uint8_t>(optional_size);
  image[pe + 24] = static_cast<uint8_t>(magic);
  image[pe + 25] = static_cast<uint8_t>(magic >> 8);
  payload::store_u32(&image[pe + 24 + (magic == 0x10B ? 92 : 108)], 16);
  return image;
}

void set_security_directory(std::vector<uint8_t>& image, uint32_t offset, uint32_t size, uint16_t magic = 0x10B) {
  const size_t at = 0x80 + 24 + (magic == 0x10B ? 128 : 144);
  payload::store_u32(&image[at], offset);
  payload::store_u32(&image[at + 4], size);
}

bool read_span(void* f, uint64_t offset, std::span<uint8_t> out) {
  auto& b = *static_cast<std::span<const uint8_t>*>(f);
  if (offset > b.size() || out.size() > b.size() - offset) return false;
  std::memcpy(out.data(), b.data() + offset, out.size());
  return true;
}

uint64_t end_of(const std::vector<uint8_t>& file) {
  std::span<const uint8_t> bytes = file;
  return payload::payload_end(file.size(), read_span, &bytes);
}

void set_section_count(std::vector<uint8_t>& image, uint16_t count) {
  image[0x80 + 6] = static_cast<uint8_t>(count);
  image[0x80 + 7] = static_cast<uint8_t>(count >> 8);
}

// Appends a certificate table of `size` bytes and records it in the security directory.
void sign(std::vector<uint8_t>& image, uint32_t size) {
  const uint32_t table = static_cast<uint32_t>(image.size());
  image.resize(image.size() + size, 0x30);
  set_security_directory(image, table, size);
}

TEST(PayloadEnd, UnsignedFileEndsAtItsEnd) {
  auto image = pe_image(1000);
  EXPECT_EQ(end_of(image), image.size());
}

TEST(PayloadEnd, SignedFileEndsWhereTheCertificateTableBegins) {
  for (uint16_t magic : {uint16_t(0x10B), uint16_t(0x20B)}) {
    auto image = pe_image(1000, magic);
    const uint32_t table = static_cast<uint32_t>(image.size());
    image.resize(image.size() + 2000, 0x30);
    set_security_directory(image, table, 2000, magic);
    EXPECT_EQ(end_of(image), table);
  }
}

TEST(PayloadEnd, TableNotAtTheEndOrHeaderLyingMeansNoTable) {
  auto image = pe_image(1000);
  const uint32_t table = static_cast<uint32_t>(image.size());
  image.resize(image.size() + 2000, 0x30);

  auto elsewhere = image;
  set_security_directory(elsewhere, table, 1999);  // ends one byte before the file does
  EXPECT_EQ(end_of(elsewhere), elsewhere.size());

  auto empty = image;
  set_security_directory(empty, table + 2000, 0);
  EXPECT_EQ(end_of(empty), empty.size());

  auto wrapped = image;  // offset + size wraps in 32 bits onto the file size
  set_security_directory(wrapped, static_cast<uint32_t>(wrapped.size()) + 16, 0xFFFFFFF0u);
  EXPECT_EQ(end_of(wrapped), wrapped.size());

  auto lying_lfanew = image;
  set_security_directory(lying_lfanew, table, 2000);
  payload::store_u32(&lying_lfanew[0x3C], 0xFFFFFFF0u);
  EXPECT_EQ(end_of(lying_lfanew), lying_lfanew.size());

  auto few_directories = image;
  set_security_directory(few_directories, table, 2000);
  payload::store_u32(&few_directories[0x80 + 24 + 92], 4);
  EXPECT_EQ(end_of(few_directories), few_directories.size());

  auto not_pe = image;
  set_security_directory(not_pe, table, 2000);
  not_pe[0x80] = 'X';
  EXPECT_EQ(end_of(not_pe), not_pe.size());

  std::vector<uint8_t> truncated(image.begin(), image.begin() + 0x90);
  EXPECT_EQ(end_of(truncated), truncated.size());
}

TEST(PayloadEnd, TableInsideTheHeadersIsNoTable) {
  // Headers end at 0x80 + 24 + 224 = 0x178 with no sections; 3 sections take 120 more.
  auto image = pe_image(1000);
  set_section_count(image, 3);
  const uint32_t headers_end = 0x178 + 3 * 40;
  auto at_the_end = image;
  sign(at_the_end, 64);
  EXPECT_EQ(end_of(at_the_end), image.size());  // behind the section table: found

  // A directory that claims the whole file from inside the headers, or from offset 8,
  // would make the trailer out of header bytes.
  for (uint32_t offset : {8u, 0x80u, headers_end - 8}) {
    auto inside = image;
    set_security_directory(inside, offset, static_cast<uint32_t>(inside.size()) - offset);
    EXPECT_EQ(end_of(inside), inside.size()) << offset;
  }
  auto just_behind = image;  // starts right where the section table ends
  set_security_directory(just_behind, headers_end, static_cast<uint32_t>(just_behind.size()) - headers_end);
  EXPECT_EQ(end_of(just_behind), headers_end);
}

TEST(PayloadEnd, TableMustStartAlignedAndHoldACertificateHeader) {
  auto image = pe_image(1000);
  ASSERT_EQ(image.size() % 8, 0u);
  for (uint32_t shift : {1u, 4u, 7u}) {
    auto unaligned = image;
    unaligned.resize(unaligned.size() + shift, 0);  // the payload's end is not a multiple of 8
    sign(unaligned, 64);
    EXPECT_EQ(end_of(unaligned), unaligned.size()) << shift;
  }
  for (uint32_t size : {1u, 7u}) {
    auto tiny = image;
    sign(tiny, size);
    EXPECT_EQ(end_of(tiny), tiny.size()) << size;
  }
  auto smallest = image;
  sign(smallest, 8);
  EXPECT_EQ(end_of(smallest), image.size());
}

TEST(PayloadEnd, EveryTruncationOfASignedImageReadsAsUnsigned) {
  auto image = pe_image(1000);
  sign(image, 512);
  for (size_t length = 0; length < image.size(); ++length) {
    std::vector<uint8_t> cut(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_EQ(end_of(cut), length) << length;
  }
}

TEST(PayloadEnd, OptionalHeaderTooShortForTheSecurityDirectory) {
  auto image = pe_image(1000);
  sign(image, 64);
  for (int optional_size : {0, 96, 135}) {  // the security entry ends at byte 136 of a PE32 optional header
    auto short_header = image;
    short_header[0x80 + 20] = static_cast<uint8_t>(optional_size);
    short_header[0x80 + 21] = 0;
    EXPECT_EQ(end_of(short_header), short_header.size()) << optional_size;
  }
  auto unknown_magic = image;
  unknown_magic[0x80 + 24] = 0x07;
  EXPECT_EQ(end_of(unknown_magic), unknown_magic.size());
}

TEST(SecurityDirectory, ReportsATableAnywhereAndNothingForAnEmptyEntry) {
  auto image = pe_image(1000);
  std::span<const uint8_t> bytes = image;
  EXPECT_FALSE(payload::security_directory(image.size(), read_span, &bytes));
  set_security_directory(image, 0x400, 0x20);  // not at the end: no payload end, but still a signature
  bytes = image;
  const auto directory = payload::security_directory(image.size(), read_span, &bytes);
  ASSERT_TRUE(directory);
  EXPECT_EQ(directory->offset, 0x400u);
  EXPECT_EQ(directory->size, 0x20u);
  EXPECT_EQ(directory->headers_end, 0x178u);
  EXPECT_EQ(end_of(image), image.size());
}

// The reader finds the trailer in front of the certificate table and walks the
// same entries as in the unsigned file.
TEST(PayloadEnd, ReaderWalksASignedInstallerLikeTheUnsignedOne) {
  const auto stub = pe_image(200);
  auto installer = raw_installer(stub, {{.name = "a.txt", .data = {'a', 'b'}}, {.name = "$EXEC", .data = {'x', 0}}});
  installer.resize(installer.size() + 4, 0);  // as mkpayload pads: the trailer goes last, ending at a multiple of 8
  std::rotate(installer.end() - 12, installer.end() - 4, installer.end());
  ASSERT_EQ(installer.size() % 8, 0u);
  const auto unsigned_size = installer.size();
  // The table's own last 8 bytes look like a trailer pointing nowhere.
  sign(installer, 64);
  payload::store_u32(&installer[installer.size() - 8], 7);
  payload::store_u32(&installer[installer.size() - 4], 0xFFFFFF);

  std::span<const uint8_t> bytes = installer;
  payload::PayloadReader reader(read_span, &bytes, installer.size());
  ASSERT_EQ(reader.open(), payload::ReadStatus::ok);
  EXPECT_EQ(reader.payload_end(), unsigned_size);
  EXPECT_EQ(reader.trailer().entry_count, 2);
  EXPECT_EQ(reader.trailer().payload_offset, stub.size());
  payload::EntryView entry;
  ASSERT_EQ(reader.next(entry), payload::ReadStatus::ok);
  EXPECT_EQ(entry.name, "a.txt");
  ASSERT_EQ(reader.next(entry), payload::ReadStatus::ok);
  EXPECT_EQ(entry.name, "$EXEC");
  EXPECT_TRUE(reader.at_end());

  // Lengthened by one byte, the table no longer ends at the file end: the last
  // 8 bytes are taken as the trailer, and they point nowhere.
  installer.push_back(0);
  bytes = installer;
  payload::PayloadReader unsigned_reader(read_span, &bytes, installer.size());
  EXPECT_NE(unsigned_reader.open(), payload::ReadStatus::ok);
}

TEST(EntryNames, OrdinaryNamesAndSubdirectoriesPass) {
  for (const char* name :
       {"a.txt", "Serialio.jar", "sub\\file.dll", "sub/file", "$exec", ".hidden", "a.jar.bak", "x..y", "console.txt",
        "COM0", "COM10", "LPT", "CONIN", "conout", "PRN1", "\xE9t\xE9.txt", "_SELF", ".\\a"})
    EXPECT_EQ(payload::check_entry_name(name), NameVerdict::ok) << name;
}

TEST(EntryNames, NamesThatLeaveTheDirectoryOrAreNotFilesAreRefused) {
  const std::pair<const char*, NameVerdict> cases[] = {
      {"", NameVerdict::empty},
      {"sub\\", NameVerdict::empty},
      {".", NameVerdict::empty},
      {"\\x", NameVerdict::absolute},
      {"/x", NameVerdict::absolute},
      {"\\\\server\\share\\x", NameVerdict::absolute},
      {"C:\\x", NameVerdict::colon},
      {"C:x", NameVerdict::colon},
      {"x.txt:stream", NameVerdict::colon},
      {"..", NameVerdict::parent_component},
      {"..\\x", NameVerdict::parent_component},
      {"a/../../x", NameVerdict::parent_component},
      {"CON", NameVerdict::device_name},
      {"nul.txt", NameVerdict::device_name},
      {"sub\\Com1", NameVerdict::device_name},
      {"LPT9.log", NameVerdict::device_name},
      {"aux .txt", NameVerdict::device_name},
      {"prn", NameVerdict::device_name},
      {"CONIN$", NameVerdict::device_name},
      {"a\\conout$.log", NameVerdict::device_name},
      {"x.", NameVerdict::trailing_dot_space},
      {"x ", NameVerdict::trailing_dot_space},
      {"...", NameVerdict::trailing_dot_space},
      {"a\tb", NameVerdict::control_character},
      {"a*b", NameVerdict::control_character},
      {"a?b", NameVerdict::control_character},
  };
  for (const auto& [name, verdict] : cases) EXPECT_EQ(payload::check_entry_name(name), verdict) << name;
}

}  // namespace
