#include "installer_inspect.h"

#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "directory_host.h"
#include "entry_name.h"
#include "extract_payload.h"
#include "file_io.h"
#include "payload_format.h"
#include "payload_reader.h"
#include "status_message.h"

namespace {

std::string reader_error(int32_t status) {
  switch (status) {
    case payload::kReadNoPayload: return "not an installer: the trailer's payload offset is 0";
    case payload::kReadTruncated: return "damaged: the trailer or an entry points past the end of the payload";
    case payload::kReadMalformed: return "damaged: an entry's name has no NUL, or its sizes contradict each other";
    case payload::kReadNameTooLong: return "damaged: an entry's name is longer than the extractor can hold";
  }
  return "unreadable (status " + std::to_string(status) + ")";
}

std::string method_text(std::span<const uint8_t> installer, const payload::EntryView& entry) {
  if (!entry.header.compressed()) return "stored";
  if (entry.data_length < 2) return "implode (no header)";
  const uint8_t mode = installer[static_cast<size_t>(entry.data_offset)], dict = installer[static_cast<size_t>(entry.data_offset) + 1];
  std::string text = "implode ";
  text += mode == 0 ? "binary" : mode == 1 ? "ascii" : "mode?" + std::to_string(mode);
  text += (dict >= 4 && dict <= 6) ? "/" + std::to_string(64u << dict) : "/dict?" + std::to_string(dict);
  return text;
}

std::string ratio_text(const payload::EntryView& entry) {
  if (entry.header.unpacked_size == 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", 100.0 * entry.data_length / entry.header.unpacked_size);
  return text;
}

void print_facts(std::span<const uint8_t> installer, const payload::PayloadReader& reader) {
  std::printf("installer: %zu bytes; stub: %" PRIu32 " bytes; entries: %" PRId32 "\n", installer.size(),
              reader.trailer().payload_offset, reader.trailer().entry_count);
  if (reader.payload_end() != installer.size())
    std::printf("certificate table: %" PRIu64 " bytes at offset %" PRIu64 " (signed installer)\n",
                installer.size() - reader.payload_end(), reader.payload_end());
  else
    std::printf("certificate table: none (unsigned)\n");
}

// Opens the installer and prints its facts; false (after a message) when unreadable.
bool open_reader(std::span<const uint8_t>& installer, payload::PayloadReader& reader) {
  const int32_t status = reader.open();
  if (status != payload::kReadOk) {
    std::printf("error: %s\n", reader_error(status).c_str());
    return false;
  }
  print_facts(installer, reader);
  return true;
}

}  // namespace

int list_installer(std::span<const uint8_t> installer) {
  payload::PayloadReader reader(read_from_memory, &installer, installer.size());
  if (!open_reader(installer, reader)) return 1;
  std::printf("%5s  %-32s %-22s %10s %10s %7s\n", "#", "name", "method", "stored", "unpacked", "ratio");
  for (int32_t index = 0; !reader.at_end(); ++index) {
    payload::EntryView entry;
    if (const int32_t status = reader.next(entry); status != payload::kReadOk) {
      std::printf("error: entry %" PRId32 ": %s\n", index, reader_error(status).c_str());
      return 1;
    }
    std::printf("%5" PRId32 "  %-32s %-22s %10" PRIu32 " %10" PRIu32 " %7s\n", index, std::string(entry.name).c_str(),
                method_text(installer, entry).c_str(), entry.data_length, entry.header.unpacked_size,
                ratio_text(entry).c_str());
  }
  return 0;
}

int verify_installer(std::span<const uint8_t> installer) {
  payload::PayloadReader reader(read_from_memory, &installer, installer.size());
  if (!open_reader(installer, reader)) return 1;
  int faults = 0;
  int32_t index = 0;
  for (; !reader.at_end(); ++index) {
    payload::EntryView entry;
    if (const int32_t status = reader.next(entry); status != payload::kReadOk) {
      std::printf("entry %" PRId32 ": FAULT: %s\n", index, reader_error(status).c_str());
      ++faults;
      break;
    }
    std::string fault;
    const std::string name(entry.name);
    if (name != payload::kExecName) {
      if (const auto verdict = payload::check_entry_name(name); verdict != payload::NameVerdict::ok)
        fault = "unsafe name: " + std::string(payload::describe(verdict));
    }
    if (fault.empty() && entry.header.compressed()) {
      std::vector<uint8_t> output(static_cast<size_t>(payload::exploded_buffer_size(entry.data_length, entry.header.unpacked_size)));
      auto work = std::make_unique<ExplodeWork>();
      DirectoryHost host(installer, "", {});
      uint32_t produced = 0;
      bool overflowed = false;
      const int32_t status = explode_entry(host, *work,
                                           installer.subspan(static_cast<size_t>(entry.data_offset), entry.data_length), output.data(),
                                           entry.header.unpacked_size, produced, overflowed);
      if (overflowed)
        fault = "decodes to more than its unpacked size (" + host.fatal_message + ")";
      else if (status != EXPLODE_OK)
        fault = "damaged stream (decoder status " + std::to_string(status) + ", " + std::to_string(produced) + " bytes produced)";
      else if (produced != entry.header.unpacked_size)
        fault = "size mismatch: decodes to " + std::to_string(produced) + " bytes";
    }
    std::printf("%5" PRId32 "  %-32s %-22s %10" PRIu32 " %10" PRIu32 " %7s  %s\n", index, name.c_str(),
                method_text(installer, entry).c_str(), entry.data_length, entry.header.unpacked_size,
                ratio_text(entry).c_str(), fault.empty() ? "ok" : ("FAULT: " + fault).c_str());
    if (!fault.empty()) ++faults;
  }
  std::printf("%" PRId32 " entries checked, %d fault%s\n", index, faults, faults == 1 ? "" : "s");
  return faults == 0 ? 0 : 1;
}

int extract_installer(std::span<const uint8_t> installer, const std::filesystem::path& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    std::printf("error: cannot create %s: %s\n", dir.string().c_str(), ec.message().c_str());
    return 1;
  }
  DirectoryHost host(installer, ".", dir);
  char failed_file_name[kFailedFileNameCapacity] = {};
  const int32_t status = extract_payload(host, "installer", ".", failed_file_name);
  for (const std::string& name : host.files_written) std::printf("file     %s\n", name.c_str());
  for (size_t i = 0; i < host.commands.size(); ++i) std::printf("$EXEC %zu  %s\n", i, host.commands[i].c_str());
  if (!host.fatal_message.empty()) {
    std::printf("error: %s\n", host.fatal_message.c_str());
    return 1;
  }
  if (status != EXTRACT_OK) {
    char message[kMessageCapacity];
    std::printf("error: %s\n", format_status_message(message, status, failed_file_name));
    return 1;
  }
  std::printf("extracted %zu files and the stub copy _SELF into %s; %zu commands listed, not run\n",
              host.files_written.size(), dir.string().c_str(), host.commands.size());
  return 0;
}
