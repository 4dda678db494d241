#include "installer_inspect.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <memory>

#include "directory_host.h"
#include "entry_rules.h"
#include "extract_payload.h"
#include "name_display.h"
#include "payload_layout.h"
#include "payload_reader.h"
#include "platform.h"
#include "size_limits.h"
#include "status_message.h"
#include "stub_check.h"

namespace mkpayload {

using namespace extractor;

namespace {

std::string reader_error(payload::ReadStatus status) {
  switch (status) {
    case payload::ReadStatus::no_payload: return "not an installer: the trailer's payload offset is 0";
    case payload::ReadStatus::truncated:
      return "not an installer, or damaged: the trailer or an entry points past the end of the file";
    case payload::ReadStatus::malformed:
      return "damaged: an entry's name has no NUL, or its sizes contradict each other";
    case payload::ReadStatus::name_too_long: return "damaged: an entry's name is longer than the extractor can hold";
    case payload::ReadStatus::ok: break;
  }
  return "unreadable";
}

// The stub's version resource lies in its first bytes; a larger stub part is not
// an extractor of this kit.
constexpr size_t MAX_STUB_LOOKED_AT = 1 << 20;

void report_error(const InspectOptions& options, const std::string& text) {
  std::fprintf(stderr, "mkpayload: %s: %s\n", options.label.c_str(), text.c_str());
}

// One entry as read, with what is shown for it.
struct ReadEntry {
  payload::EntryView view;
  std::string name_bytes;
  std::string shown;  // the name as the end user's Windows reads it, or with <XX> escapes
  std::string method;
  std::vector<std::string> faults;
};

std::string method_text(const InstallerImage& installer, const payload::EntryView& entry) {
  if (!entry.header.compressed()) return "stored";
  uint8_t head[2];
  if (entry.data_length < 2 || !installer.read(entry.data_offset, head)) return "implode (no header)";
  std::string text = "implode ";
  text += head[0] == 0 ? "binary" : head[0] == 1 ? "ascii" : "mode?" + std::to_string(head[0]);
  text += (head[1] >= 4 && head[1] <= 6) ? "/" + std::to_string(64u << head[1]) : "/dict?" + std::to_string(head[1]);
  return text;
}

std::string ratio_text(const payload::EntryView& entry) {
  if (entry.header.unpacked_size == 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", 100.0 * entry.data_length / entry.header.unpacked_size);
  return text;
}

// Opens the installer, prints its facts and reads every entry's header and name;
// false (after a message on standard error) when it is not a readable installer.
bool read_entries(const InstallerImage& installer, const InspectOptions& options, payload::PayloadReader& reader,
                  std::vector<ReadEntry>& entries, bool& complete) {
  if (const payload::ReadStatus status = reader.open(); status != payload::ReadStatus::ok) {
    report_error(options, reader_error(status));
    return false;
  }
  std::printf("installer: %" PRIu64 " bytes; stub: %" PRIu32 " bytes; entries: %" PRId32 "\n", installer.size(),
              reader.trailer().payload_offset, reader.trailer().entry_count);
  std::vector<uint8_t> stub(std::min<size_t>(reader.trailer().payload_offset, MAX_STUB_LOOKED_AT));
  const auto version = installer.read(0, stub) ? stub_version(stub) : std::nullopt;
  std::printf("stub version: %s\n", version ? ("extractor " + *version).c_str() : "unknown (no version resource)");
  if (reader.payload_end() != installer.size())
    std::printf("certificate table: %" PRIu64 " bytes at offset %" PRIu64 " (signed installer)\n",
                installer.size() - reader.payload_end(), reader.payload_end());
  else
    std::printf("certificate table: none (unsigned)\n");
  complete = true;
  while (!reader.at_end()) {
    ReadEntry entry;
    if (const payload::ReadStatus status = reader.next(entry.view); status != payload::ReadStatus::ok) {
      report_error(options, "entry " + std::to_string(entries.size()) + ": " + reader_error(status));
      complete = false;
      break;
    }
    entry.name_bytes = std::string(entry.view.name);
    entry.shown = shown_text(entry.name_bytes, options.code_page);
    entry.method = method_text(installer, entry.view);
    entries.push_back(std::move(entry));
  }
  return true;
}

size_t name_column(const std::vector<ReadEntry>& entries) {
  size_t width = 32;
  for (const ReadEntry& e : entries) width = std::max(width, display_width(e.shown));
  return width;
}

void print_row(size_t index, const ReadEntry& e, size_t width, const std::string& tail) {
  std::printf("%5zu  %s %-22s %10" PRIu32 " %10" PRIu32 " %7s%s\n", index, pad_to_width(e.shown, width).c_str(),
              e.method.c_str(), e.view.data_length, e.view.header.unpacked_size, ratio_text(e.view).c_str(),
              tail.c_str());
}

void note_escapes(const std::vector<ReadEntry>& entries, const InspectOptions& options) {
  if (options.code_page) return;
  if (std::any_of(entries.begin(), entries.end(), [](const ReadEntry& e) { return e.shown != e.name_bytes; }))
    std::printf(
        "non-ASCII bytes are shown as <XX>; give --codepage N to show them as the end users' Windows reads them\n");
}

// A compressed entry decoded as the extractor decodes it.
struct Decoded {
  std::vector<uint8_t> bytes;
  ExplodedEntry result{explode::EXPLODE_OK, 0, false};
  std::string overflow;  // the overflow stop's message, when the output outgrew U
};

Decoded decode_entry(const InstallerImage& installer, const payload::EntryView& entry) {
  Decoded d;
  std::vector<uint8_t> stream(entry.data_length);
  if (!installer.read(entry.data_offset, stream)) {
    d.result.status = explode::EXPLODE_INPUT_ENDED;
    return d;
  }
  d.bytes.resize(static_cast<size_t>(payload::exploded_buffer_size(entry.data_length, entry.header.unpacked_size)));
  auto work = std::make_unique<explode::ExplodeWork>();
  DirectoryHost host(nullptr, nullptr, std::nullopt);
  d.result = explode_entry(host, *work, stream, d.bytes.data(), entry.header.unpacked_size);
  if (d.result.stopped) d.overflow = host.fatal_message;
  d.bytes.resize(d.result.produced);
  return d;
}

std::string command_text_of(const InstallerImage& installer, const payload::EntryView& entry, const Decoded* decoded) {
  std::vector<uint8_t> bytes;
  if (decoded) {
    bytes = decoded->bytes;
  } else {
    bytes.resize(std::min<size_t>(entry.data_length, MAX_COMMAND_BYTES + 2));
    if (!installer.read(entry.data_offset, bytes)) bytes.clear();
  }
  const auto nul = std::find(bytes.begin(), bytes.end(), uint8_t{0});
  return std::string(bytes.begin(), nul);
}

}  // namespace

int list_installer(const InstallerImage& installer, const InspectOptions& options) {
  payload::PayloadReader reader(InstallerImage::read_at, const_cast<InstallerImage*>(&installer), installer.size());
  std::vector<ReadEntry> entries;
  bool complete = false;
  if (!read_entries(installer, options, reader, entries, complete)) return 1;
  const size_t width = name_column(entries);
  std::printf("%5s  %s %-22s %10s %10s %7s\n", "#", pad_to_width("name", width).c_str(), "method", "stored", "unpacked",
              "ratio");
  for (size_t i = 0; i < entries.size(); ++i) print_row(i, entries[i], width, "");
  note_escapes(entries, options);
  return complete ? 0 : 1;
}

int verify_installer(const InstallerImage& installer, const InspectOptions& options) {
  payload::PayloadReader reader(InstallerImage::read_at, const_cast<InstallerImage*>(&installer), installer.size());
  std::vector<ReadEntry> entries;
  bool complete = false;
  if (!read_entries(installer, options, reader, entries, complete)) return 1;
  int faults = complete ? 0 : 1;
  if (installer.size() > MAX_INSTALLER_BYTES) {
    report_error(options, "is " + std::to_string(installer.size()) + " bytes; the extractor reads at most " +
                              std::to_string(MAX_INSTALLER_BYTES) + " bytes of its own file");
    ++faults;
  }

  std::vector<PlannedEntry> planned;
  for (ReadEntry& e : entries) {
    const payload::EntryView& view = e.view;
    PlannedEntry p{e.name_bytes == payload::EXEC_NAME, e.shown, e.name_bytes, view.header.compressed(),
                   view.header.unpacked_size};
    std::optional<Decoded> decoded;
    if (view.header.compressed()) {
      decoded = decode_entry(installer, view);
      if (!decoded->overflow.empty())
        e.faults.push_back("decodes to more than its unpacked size (" + decoded->overflow + ")");
      else if (decoded->result.status != explode::EXPLODE_OK)
        e.faults.push_back("damaged stream (decoder status " + std::to_string(decoded->result.status) + ", " +
                           std::to_string(decoded->result.produced) + " bytes produced)");
      else if (decoded->result.produced != view.header.unpacked_size)
        e.faults.push_back("size mismatch: decodes to " + std::to_string(decoded->result.produced) + " bytes");
      if (view.header.unpacked_size > MAX_COMPRESSED_UNPACKED_BYTES)
        e.faults.push_back(compressed_too_large(view.header.unpacked_size));
    }
    std::string reason;
    if (p.command) {
      p.bytes = command_text_of(installer, view, decoded ? &*decoded : nullptr);
      if (auto text = text_of_payload_bytes(p.bytes, options.code_page, reason))
        p.text = *text;
      else
        e.faults.push_back("the command " + reason);
      if (std::string problem = command_problem(p.bytes); !problem.empty())
        e.faults.push_back("the command " + problem);
    } else if (auto text = text_of_payload_bytes(e.name_bytes, options.code_page, reason)) {
      p.text = *text;
      if (std::string problem = file_name_problem(p.text, e.name_bytes); !problem.empty())
        e.faults.push_back("the name " + problem);
    } else {
      e.faults.push_back("the name " + reason);
    }
    planned.push_back(std::move(p));
  }
  for (const RuleViolation& problem : sequence_problems(planned, true))
    entries[problem.entry].faults.push_back(problem.reason);

  const size_t width = name_column(entries);
  for (size_t i = 0; i < entries.size(); ++i) {
    const ReadEntry& e = entries[i];
    std::string tail = "  ok";
    if (!e.faults.empty()) {
      tail = "  FAULT: ";
      for (size_t f = 0; f < e.faults.size(); ++f) tail += (f ? "; " : "") + e.faults[f];
      for (const std::string& fault : e.faults)
        report_error(options, "entry " + std::to_string(i) + " \"" + e.shown + "\": " + fault);
      faults += static_cast<int>(e.faults.size());
    }
    print_row(i, e, width, tail);
  }
  note_escapes(entries, options);
  std::printf("%zu entries checked, %d fault%s\n", entries.size(), faults, faults == 1 ? "" : "s");
  return faults == 0 ? 0 : 1;
}

int extract_installer(const InstallerImage& installer, const std::filesystem::path& dir,
                      const InspectOptions& options) {
  // Nothing is created for a file that is not an installer.
  payload::PayloadReader reader(InstallerImage::read_at, const_cast<InstallerImage*>(&installer), installer.size());
  if (const payload::ReadStatus status = reader.open(); status != payload::ReadStatus::ok) {
    report_error(options, reader_error(status));
    return 1;
  }
  std::string error;
  auto folder = OutputFolder::open(
      utf8_of(dir), options.force ? OutputFolder::Existing::replace_files : OutputFolder::Existing::must_be_empty,
      error);
  if (!folder) {
    report_error(options, "cannot unpack into " + utf8_of(dir) + ": it " + error);
    return 1;
  }
  DirectoryHost host(&installer, &*folder, options.code_page);
  char failed_file_name[FAILED_FILE_NAME_CAPACITY] = {};
  const int32_t status = extract_payload(host, "installer", DirectoryHost::TARGET_DIRECTORY, failed_file_name);
  for (const std::string& name : host.files_written) std::printf("file     %s\n", name.c_str());
  for (size_t i = 0; i < host.commands.size(); ++i) std::printf("$EXEC %zu  %s\n", i, host.commands[i].c_str());
  if (!host.fatal_message.empty()) {
    report_error(options, host.fatal_message);
    return 1;
  }
  if (status != EXTRACT_OK) {
    char message[MESSAGE_CAPACITY];
    const std::string extractor_says = format_status_message(message, status, failed_file_name);
    if (!host.failure.empty()) {
      report_error(options, "entry \"" + host.files_written.back() + "\": " + host.failure);
    } else if (status == -static_cast<int32_t>(INVALID_NAME_ERROR)) {
      std::string_view name(failed_file_name);
      name.remove_prefix(std::min(name.size(), std::strlen(DirectoryHost::TARGET_DIRECTORY) + 1));
      report_error(options, "entry \"" + shown_text(name, options.code_page) + "\" " + file_name_problem(name, name) +
                                "; the extractor stops here (" + extractor_says + ")");
    } else {
      report_error(options, extractor_says);
    }
    return 1;
  }
  std::printf("extracted %zu files and the stub copy _SELF into %s; %zu commands listed, not run\n",
              host.files_written.size(), utf8_of(dir).c_str(), host.commands.size());
  return 0;
}

}  // namespace mkpayload
