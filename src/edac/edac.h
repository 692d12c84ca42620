// Per-module memory error counts from Linux's EDAC sysfs tree,
// DIR/devices/system/edac/mc/mc*/, as the kernel's ABI document
// (Documentation/ABI/testing/sysfs-devices-edac) describes it. The tree is
// world-readable, so the counts need no root. Anything in it may be wrong: a
// value that cannot be read is unknown (an empty optional) with a note, and
// the rest of the tree still counts.
#ifndef RAMINFO_EDAC_EDAC_H
#define RAMINFO_EDAC_EDAC_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A sysfs attribute is one page at most; anything longer is not the kernel's.
constexpr size_t kEdacAttributeLimit = 4096;
// How much of the tree is looked at, so that a made-up tree cannot make the
// walk (or the notes) grow without end.
constexpr size_t kEdacMaxControllers = 256;
constexpr size_t kEdacMaxModulesPerController = 1024;
constexpr size_t kEdacMaxEntriesPerDirectory = 16384;
// More layer numbers than this in a location is not the kernel's (it has 3).
constexpr size_t kEdacMaxLocationNumbers = 8;
// The kernel keeps a label in EDAC_MC_LABEL_LEN + 1 bytes with snprintf, so
// a longer one reads as its first 31 bytes.
constexpr size_t kEdacLabelMaxBytes = 31;

// Which files describe a controller's modules.
enum class edac_layout {
  none,      // no module directory at all
  per_dimm,  // dimmM/
  per_rank,  // rankM/: one entry per rank, several per module
  per_row,   // the older csrowK/chJ_* files
};

// One module (or rank, or row channel) as EDAC names it.
struct edac_module {
  // "mc0/dimm3", "mc0/rank2" or "mc0/csrow1/ch0".
  std::string edac;
  // "mc0", and its number.
  std::string controller;
  unsigned controller_index = 0;
  edac_layout layout = edac_layout::none;
  // dimm_label (chJ_dimm_label) without its newline; empty when the kernel
  // has none. Raw bytes: a view must make them printable.
  std::optional<std::string> label;
  // dimm_location trimmed, e.g. "channel 1 slot 0". A row channel has the
  // location of the module directory its label ties it to (kernels 3.5 to
  // 4.9 have both), or, on a kernel with no module directories at all,
  // "csrow K channel J", the place its tools named it by.
  std::optional<std::string> location;
  // The numbers of the location in order: a label file's positions after the
  // controller number. Empty when the location is unknown or not understood.
  std::vector<unsigned> location_numbers;
  // Why a row channel has no location although the controller has module
  // directories: its label ties it to no one of them. Raw label bytes
  // included; empty otherwise.
  std::string untied;
  // dimmM/size in MiB (a rank's own size for rankM). The per-row layout
  // gives only a whole row's size, so it stays unknown there.
  std::optional<uint64_t> size_mib;
  std::optional<std::string> mem_type;
  std::optional<std::string> edac_mode;
  // Corrected and uncorrected error counts. The per-row layout has no
  // per-channel uncorrected count on most kernels: unknown, never 0.
  std::optional<uint64_t> ce;
  std::optional<uint64_t> ue;
};

struct edac_controller {
  std::string name;  // "mc0"
  unsigned index = 0;
  edac_layout layout = edac_layout::none;
  std::optional<std::string> mc_name;  // the driver's name for it
  // Errors the kernel could not place on a module.
  std::optional<uint64_t> ce_noinfo;
  std::optional<uint64_t> ue_noinfo;
  std::optional<uint64_t> seconds_since_reset;
};

struct edac_report {
  // False when there are no counts to show; reason then says why, as a
  // phrase for people ("no EDAC in this kernel").
  bool available = false;
  std::string reason;
  // In controller order, then module order (by number, not by name).
  std::vector<edac_controller> controllers;
  std::vector<edac_module> modules;
  // What could not be read, one line each, for stderr: the first
  // kEdacMaxNotes, and how many more there were.
  std::vector<std::string> notes;
  size_t notes_dropped = 0;
};

// Reads sysfs_root + "/devices/system/edac/mc". Every file goes through the
// bounded reader; only regular files are opened (a FIFO or a device where a
// count belongs is refused unread), never through a symbolic link in an
// attribute's place (it is unreadable, with a note). The walk has a fixed
// depth and a directory reached twice through symbolic links counts once,
// so a link can neither loop the walk nor count a module twice. Never
// throws.
edac_report read_edac(const std::string& sysfs_root);

#endif
