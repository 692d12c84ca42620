// raminfo: prints the memory module inventory of this machine, or of a saved
// SMBIOS table, as the library reports it.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dump.h"
#include "dump_platform.h"
#include "raminfo.h"
#include "views.h"

namespace {

constexpr int kExitTableUnreadable = 1;
constexpr int kExitUsage = 2;

void print_help(FILE* to) {
  std::fprintf(
      to,
      "Usage: raminfo [--count | --table | --prometheus] [--from-dump FILE [--dump-format "
      "rsmb|dmidecode|table]\n"
      "               [--total-mb N]]\n"
      "Prints the memory modules found in the SMBIOS table as JSON.\n"
      "\n"
      "  --from-dump FILE     decode a saved table instead of this machine's: a Windows raw\n"
      "                       SMBIOS block, a 'dmidecode --dump-bin' file or a bare table\n"
      "  --dump-format F      take FILE as F instead of telling the layout from its content\n"
      "  --total-mb N         total memory to report with --from-dump (default: -1)\n"
      "  --count              print the number of populated modules instead\n"
      "  --version            print the library's version\n"
      "  --help               print this help\n"
      "\n"
      "Exit status: 0 on success, 1 when the SMBIOS table cannot be read, 2 on bad usage.\n");
}

int usage_error(const std::string& message) {
  std::fprintf(stderr, "raminfo: %s (see raminfo --help)\n", message.c_str());
  return kExitUsage;
}

bool read_whole_file(const std::string& path, std::vector<uint8_t>* out, std::string* error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    *error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  out->clear();
  uint8_t chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out->insert(out->end(), chunk, chunk + n);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) *error = "cannot read " + path;
  return !failed;
}

bool parse_total_mb(const char* text, int64_t* out) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < -1 || v > INT32_MAX) return false;
  *out = v;
  return true;
}

// Tells the user why the table could not be read and how to get it.
void report_unreadable(bool from_dump) {
  std::fprintf(stderr, "raminfo: cannot read the SMBIOS table: %s\n", raminfo_last_error());
  if (from_dump) {
    std::fprintf(stderr, "raminfo: hint: the saved table is too short or inconsistent\n");
  } else {
#if defined(_WIN32)
    std::fprintf(stderr, "raminfo: hint: this system's firmware provides no SMBIOS table\n");
#else
    std::fprintf(stderr,
                 "raminfo: hint: reading /sys/firmware/dmi/tables/DMI needs root (try sudo), "
                 "and the firmware must provide an SMBIOS table\n");
#endif
  }
}

}  // namespace

int main(int argc, char** argv) {
  enum class view { json, count, table, prometheus } out_view = view::json;
  int views = 0;
  std::string dump_path;
  bool from_dump = false;
  dump_format format = dump_format::automatic;
  int64_t total_mb = -1;

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      print_help(stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("%s\n", raminfo_version());
      return 0;
    } else if (arg == "--count") {
      out_view = view::count, ++views;
    } else if (arg == "--table") {
      out_view = view::table, ++views;
    } else if (arg == "--prometheus") {
      out_view = view::prometheus, ++views;
    } else if (arg == "--from-dump") {
      if (!has_value) return usage_error("--from-dump needs a file");
      dump_path = argv[++i];
      from_dump = true;
    } else if (arg == "--dump-format") {
      if (!has_value || !parse_dump_format(argv[i + 1], &format))
        return usage_error("--dump-format takes rsmb, dmidecode or table");
      ++i;
    } else if (arg == "--total-mb") {
      if (!has_value || !parse_total_mb(argv[i + 1], &total_mb))
        return usage_error("--total-mb takes a whole number of MiB");
      ++i;
    } else {
      return usage_error("unknown option '" + arg + "'");
    }
  }
  if (views > 1) return usage_error("--count, --table and --prometheus exclude each other");
  if (!from_dump && (format != dump_format::automatic || total_mb != -1))
    return usage_error("--dump-format and --total-mb go with --from-dump");

  if (from_dump) {
    std::vector<uint8_t> file;
    std::vector<uint8_t> block;
    std::string error;
    if (!read_whole_file(dump_path, &file, &error)) return usage_error(error);
    if (file.size() > UINT32_MAX - 8)
      return usage_error(dump_path + " is too large for an SMBIOS table");
    if (!dump_to_raw_block(file, format, &block, &error))
      return usage_error(dump_path + ": " + error);
    use_saved_table(std::move(block), total_mb);
  }

  if (out_view == view::table || out_view == view::prometheus) {
    inventory inv;
    const bool ok = read_inventory(&inv);
    const std::string text = out_view == view::table ? render_table(inv) : render_prometheus(inv);
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (!ok) {
      report_unreadable(from_dump);
      return kExitTableUnreadable;
    }
    return 0;
  }
  if (out_view == view::count) {
    const int32_t n = raminfo_slot_count();
    std::printf("%d\n", static_cast<int>(n));
    if (n < 0) {
      report_unreadable(from_dump);
      return kExitTableUnreadable;
    }
    return 0;
  }
  std::printf("%s\n", raminfo_get_json());
  if (raminfo_last_error()[0] != '\0') {
    report_unreadable(from_dump);
    return kExitTableUnreadable;
  }
  return 0;
}
