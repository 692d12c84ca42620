// The built shared library as a host program meets it: loaded with dlopen,
// reading /sys/firmware/dmi/tables from a tmpfs mounted in a private mount
// namespace of a forked child, so that every case sees its own table and a
// freshly loaded library.
#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>

#include "files.h"
#include "real_tables.h"
#include "table_builder.h"

namespace {

constexpr int kChildPassed = 0;
constexpr int kChildFailed = 1;
constexpr int kChildSkipped = 77;

// What the case puts under /sys/firmware/dmi/tables; a file left out is not
// created. skip is set when the case cannot be built on this machine.
struct Firmware {
  std::optional<Bytes> dmi;
  std::optional<Bytes> entry_point;
  std::string skip;
  // The library is loaded as user 65534 (nobody) instead of root.
  bool unprivileged = false;
};

struct HostCase {
  const char* name;
  Firmware (*firmware)();
  int32_t slot_count;
  const char* error;  // the last-error text once the table was asked for
  const char* slots;  // the expected "slots" array, as JSON text
};

void PrintTo(const HostCase& c, std::ostream* os) { *os << c.name; }

// A 64-bit entry point (DMTF DSP0134 5.2.2) announcing SMBIOS 3.2.0.
Bytes sm3_entry_point() {
  Bytes ep(0x18, 0);
  std::memcpy(ep.data(), "_SM3_", 5);
  ep[6] = 0x18;
  ep[7] = 3;
  ep[8] = 2;
  ep[10] = 1;
  return ep;
}

Firmware two_devices() {
  const Dimm empty{.locator = 1};
  return {table({empty.with({"DIMM_A0"}), ddr4_dimm().with(ddr4_strings()), end_of_table()}),
          sm3_entry_point(),
          {}};
}

Firmware no_table() { return {}; }

Firmware empty_table() { return {Bytes{}, sm3_entry_point(), {}}; }

// The kernel's mode 0400 table, as a user other than root meets it.
Firmware root_only_table() {
  Firmware fw = two_devices();
  fw.unprivileged = true;
  return fw;
}

// A real machine's table as the kernel would show it: the structure table of
// the .rsmb (past its 8-byte header) and the entry point of the .dmi.
Firmware real_dump(const std::string& name) {
  if (real_table_absent(name)) return {{}, {}, absent_real_table_note(name)};
  const std::string base = (kRealTablesDir / name).string();
  const std::optional<Bytes> rsmb = read_file(base + ".rsmb");
  const std::optional<Bytes> dmi = read_file(base + ".dmi");
  // Any other table is always here: a missing or cut one fails the case.
  if (!rsmb || !dmi || rsmb->size() < 8 || dmi->size() < 0x18) {
    ADD_FAILURE() << "no whole saved tables at " << base << ".{rsmb,dmi}";
    return {{}, {}, "no table to mount"};
  }
  return {Bytes(rsmb->begin() + 8, rsmb->end()), Bytes(dmi->begin(), dmi->begin() + 0x18), {}};
}

Firmware asrock_rack() { return real_dump("server-asrockrack-x570d4u-ddr4-32g-extended-size"); }

Firmware thinkpad_x280() { return real_dump("laptop-lenovo-thinkpad-x280-ddr4-no-partnumber"); }

Firmware gigabyte() { return real_dump("desktop-gigabyte-ga-ma74gmt-s2-memtype-unknown"); }

const HostCase kCases[] = {
    {"two_devices", two_devices, 1, "",
     R"([{"slot":"DIMM_A0","size_mb":0},
         {"slot":"DIMM_A1","size_mb":16384,"type":"DDR4","speed_mts":3200,
          "configured_speed_mts":2933,"manufacturer":"Samsung","part_number":"M393A2K43BB1-CTD",
          "serial":"0123ABCD","voltage_mv":1200,"form_factor":"DIMM"}])"},
    // On Linux the reason names the file, in Linux terms.
    {"no_table", no_table, -1,
     "/sys/firmware/dmi/tables/DMI does not exist: this machine exposes no SMBIOS table", "[]"},
    {"empty_table", empty_table, -1,
     "/sys/firmware/dmi/tables/DMI is empty: the firmware gave an SMBIOS table without structures",
     "[]"},
    {"root_only_table_as_nobody", root_only_table, -1,
     "/sys/firmware/dmi/tables/DMI is readable by root only", "[]"},
    // Expected values as dmidecode --from-dump NAME.dmi -t 17 decodes them.
    {"dump_asrock_rack_extended_size", asrock_rack, 2, "",
     R"([{"slot":"DIMM 0","size_mb":0},
         {"slot":"DIMM 1","size_mb":32768,"type":"DDR4","speed_mts":2400,
          "configured_speed_mts":2400,"manufacturer":"Kingston","part_number":"KF3200C16D4/32GX",
          "serial":"254857A6","voltage_mv":1200,"form_factor":"DIMM"},
         {"slot":"DIMM 0","size_mb":0},
         {"slot":"DIMM 1","size_mb":32768,"type":"DDR4","speed_mts":2400,
          "configured_speed_mts":2400,"manufacturer":"Kingston","part_number":"KF3200C16D4/32GX",
          "serial":"2048690C","voltage_mv":1200,"form_factor":"DIMM"}])"},
    {"dump_thinkpad_x280_blank_part_number", thinkpad_x280, 2, "",
     R"([{"slot":"ChannelA-DIMM0","size_mb":4096,"type":"DDR4","speed_mts":2400,
          "configured_speed_mts":2400,"manufacturer":"0000","part_number":"",
          "serial":"00000000","voltage_mv":1200,"form_factor":"SODIMM"},
         {"slot":"ChannelB-DIMM0","size_mb":4096,"type":"DDR4","speed_mts":2400,
          "configured_speed_mts":2400,"manufacturer":"0000","part_number":"",
          "serial":"00000000","voltage_mv":1200,"form_factor":"SODIMM"}])"},
    // Strings of one space, and a 27-byte device without configured speed or voltage.
    {"dump_gigabyte_blank_strings", gigabyte, 2, "",
     R"([{"slot":"A0","size_mb":0},{"slot":"A1","size_mb":0},
         {"slot":"A2","size_mb":1024,"type":"Unknown","speed_mts":1066,"configured_speed_mts":0,
          "manufacturer":"","part_number":"","serial":"","voltage_mv":0,"form_factor":"DIMM"},
         {"slot":"A3","size_mb":1024,"type":"Unknown","speed_mts":1066,"configured_speed_mts":0,
          "manufacturer":"","part_number":"","serial":"","voltage_mv":0,"form_factor":"DIMM"}])"},
};

// ---- In the child -----------------------------------------------------------

// Collects what went wrong in the child, for the parent to print.
struct Outcome {
  int code = kChildPassed;
  std::ostringstream text;

  void fail(const std::string& what) {
    code = kChildFailed;
    text << what << "\n";
  }
  void skip(const std::string& why) {
    code = kChildSkipped;
    text << why;
  }
};

std::string errno_text(const char* call) { return std::string(call) + ": " + std::strerror(errno); }

// Refusals that mean "not allowed here" rather than a broken test.
bool refused(int err) { return err == EPERM || err == EACCES || err == EROFS; }

bool write_file(const std::string& path, const Bytes& bytes, Outcome* out) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0400);
  if (fd < 0) {
    out->fail(errno_text(("open " + path).c_str()));
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t w = write(fd, bytes.data() + done, bytes.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      out->fail(errno_text(("write " + path).c_str()));
      close(fd);
      return false;
    }
    done += static_cast<size_t>(w);
  }
  close(fd);
  return true;
}

// Puts the case's files where the kernel would, visible to this process only.
bool mount_firmware(const Firmware& fw, Outcome* out) {
  if (unshare(CLONE_NEWNS) != 0) {
    if (refused(errno))
      out->skip("a private mount namespace is refused here (" + errno_text("unshare") + ")");
    else
      out->fail(errno_text("unshare(CLONE_NEWNS)"));
    return false;
  }
  // Without this the tmpfs below would propagate to the host's /sys.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    if (refused(errno))
      out->skip("making / private is refused here (" + errno_text("mount") + ")");
    else
      out->fail(errno_text("mount / MS_REC|MS_PRIVATE"));
    return false;
  }
  if (mount("tmpfs", "/sys/firmware", "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, "mode=0755") !=
      0) {
    if (refused(errno) || errno == ENOENT)
      out->skip("cannot mount a tmpfs over /sys/firmware here (" + errno_text("mount") + ")");
    else
      out->fail(errno_text("mount tmpfs /sys/firmware"));
    return false;
  }
  if (!fw.dmi && !fw.entry_point) return true;
  if (mkdir("/sys/firmware/dmi", 0755) != 0 || mkdir("/sys/firmware/dmi/tables", 0755) != 0) {
    out->fail(errno_text("mkdir /sys/firmware/dmi/tables"));
    return false;
  }
  if (fw.dmi && !write_file("/sys/firmware/dmi/tables/DMI", *fw.dmi, out)) return false;
  if (fw.entry_point &&
      !write_file("/sys/firmware/dmi/tables/smbios_entry_point", *fw.entry_point, out))
    return false;
  return true;
}

// Becomes user and group 65534 with no supplementary groups, as setpriv
// --reuid=65534 --regid=65534 --clear-groups does.
bool drop_root(Outcome* out) {
  if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
      setresuid(65534, 65534, 65534) != 0) {
    if (refused(errno))
      out->skip("cannot become user 65534 here (" + errno_text("setresuid") + ")");
    else
      out->fail(errno_text("becoming user 65534"));
    return false;
  }
  return true;
}

struct Exports {
  const char* (*get_json)();
  const char* (*last_error)();
  int32_t (*slot_count)();
  int32_t (*total_mb)();
  const char* (*version)();
};

template <typename F>
bool bind(void* lib, const char* name, F* fn, Outcome* out) {
  void* sym = dlsym(lib, name);
  if (sym == nullptr) {
    out->fail(std::string("dlsym ") + name + ": " + dlerror());
    return false;
  }
  *fn = reinterpret_cast<F>(sym);
  return true;
}

std::string quoted(const char* s) { return s == nullptr ? "NULL" : "\"" + std::string(s) + "\""; }

void check_library(const HostCase& c, Outcome* out) {
  void* lib = dlopen(RAMINFO_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) return out->fail(std::string("dlopen: ") + dlerror());
  Exports x{};
  bool bound = bind(lib, "raminfo_get_json", &x.get_json, out);
  bound &= bind(lib, "raminfo_last_error", &x.last_error, out);
  bound &= bind(lib, "raminfo_slot_count", &x.slot_count, out);
  bound &= bind(lib, "raminfo_total_mb", &x.total_mb, out);
  bound &= bind(lib, "raminfo_version", &x.version, out);
  if (!bound) return;

  const char* version = x.version();
  if (version == nullptr || std::strcmp(version, RAMINFO_EXPECTED_VERSION) != 0)
    out->fail("raminfo_version() is " + quoted(version) + ", expected " +
              quoted(RAMINFO_EXPECTED_VERSION));
  if (x.version() != version) out->fail("raminfo_version() returned another pointer");

  const char* error = x.last_error();
  if (error == nullptr || *error != '\0')
    out->fail("raminfo_last_error() before any call is " + quoted(error));

  const int32_t count = x.slot_count();
  if (count != c.slot_count)
    out->fail("raminfo_slot_count() is " + std::to_string(count) + ", expected " +
              std::to_string(c.slot_count));
  error = x.last_error();
  if (error == nullptr || std::strcmp(error, c.error) != 0)
    out->fail("raminfo_last_error() after raminfo_slot_count() is " + quoted(error) +
              ", expected " + quoted(c.error));

  const auto total_mb = static_cast<int32_t>(static_cast<uint64_t>(sysconf(_SC_PHYS_PAGES)) *
                                                 static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) >>
                                             20);
  if (x.total_mb() != total_mb)
    out->fail("raminfo_total_mb() is " + std::to_string(x.total_mb()) + ", sysconf says " +
              std::to_string(total_mb));

  const char* text = x.get_json();
  if (text == nullptr) return out->fail("raminfo_get_json() returned NULL");
  nlohmann::json expected = {{"total_mb", total_mb}, {"slots", nlohmann::json::parse(c.slots)}};
  try {
    const nlohmann::json got = nlohmann::json::parse(text);
    if (got != expected)
      out->fail("raminfo_get_json() is\n  " + got.dump() + "\nexpected\n  " + expected.dump());
  } catch (const nlohmann::json::exception& e) {
    out->fail("raminfo_get_json() is no JSON (" + std::string(e.what()) + "): " + text);
  }
  // A failed load is tried again, and writes its reason again.
  error = x.last_error();
  if (error == nullptr || std::strcmp(error, c.error) != 0)
    out->fail("raminfo_last_error() after raminfo_get_json() is " + quoted(error) + ", expected " +
              quoted(c.error));
}

[[noreturn]] void child(const HostCase& c, const Firmware& fw, int report_fd) {
  Outcome out;
  try {
    if (mount_firmware(fw, &out) && (!fw.unprivileged || drop_root(&out))) check_library(c, &out);
  } catch (const std::exception& e) {
    out.fail(std::string("exception: ") + e.what());
  }
  const std::string text = out.text.str();
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t w = write(report_fd, text.data() + done, text.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    done += static_cast<size_t>(w);
  }
  // Skips the parent's exit handlers and buffers, which belong to the parent.
  _exit(out.code);
}

// ---- In the parent ------------------------------------------------------------

class LoadedLibrary : public testing::TestWithParam<HostCase> {};

TEST_P(LoadedLibrary, ReportsTheMountedTable) {
  const HostCase& c = GetParam();
  const Firmware fw = c.firmware();
  if (!fw.skip.empty()) GTEST_SKIP() << fw.skip;

  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0) << errno_text("pipe2");
  const pid_t pid = fork();
  ASSERT_GE(pid, 0) << errno_text("fork");
  if (pid == 0) {
    close(fds[0]);
    child(c, fw, fds[1]);
  }
  close(fds[1]);
  std::string message;
  char chunk[4096];
  for (;;) {
    const ssize_t r = read(fds[0], chunk, sizeof chunk);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    message.append(chunk, static_cast<size_t>(r));
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) ASSERT_EQ(errno, EINTR) << errno_text("waitpid");

  ASSERT_FALSE(WIFSIGNALED(status)) << "the child died of signal " << WTERMSIG(status) << "\n"
                                    << message;
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == kChildSkipped) GTEST_SKIP() << message;
  const int child_exit = WEXITSTATUS(status);
  EXPECT_EQ(child_exit, kChildPassed) << message;
}

INSTANTIATE_TEST_SUITE_P(Tables, LoadedLibrary, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
