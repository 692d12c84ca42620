// Builds EDAC sysfs trees (DIR/devices/system/edac/mc/...) in a fresh
// temporary directory, as the kernel lays them out or as a broken one might.
#ifndef RAMINFO_TEST_EDAC_TREE_H
#define RAMINFO_TEST_EDAC_TREE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One dimmM/ or rankM/ directory. An empty optional leaves the file out.
struct module_files {
  std::optional<std::string> label;
  std::optional<std::string> location;
  std::optional<std::string> size;
  std::optional<std::string> ce;
  std::optional<std::string> ue;
  std::optional<std::string> mem_type = std::string("Registered-DDR3");
  std::optional<std::string> edac_mode = std::string("S4ECD4ED");
};

// The usual module: the kernel's "%u\n" counts and a labelled location.
module_files module(const std::string& label, const std::string& location, uint64_t ce, uint64_t ue,
                    uint64_t size_mib = 4096);

class edac_tree {
 public:
  edac_tree();
  ~edac_tree();
  edac_tree(const edac_tree&) = delete;
  edac_tree& operator=(const edac_tree&) = delete;

  // What --sysfs-root would name.
  const std::string& root() const { return root_; }
  // "devices/system/edac/mc/mcN" under the root, absolute.
  std::string mc_path(unsigned n) const;

  // Paths are relative to the root; parents are made as needed.
  void file(const std::string& rel, const std::string& content) const;
  void dir(const std::string& rel) const;
  void symlink(const std::string& rel, const std::string& target) const;
  void fifo(const std::string& rel) const;
  void remove(const std::string& rel) const;

  // mcN/ with its controller files (counts as the kernel prints them).
  void controller(unsigned n, uint64_t ce_noinfo = 0, uint64_t ue_noinfo = 0,
                  uint64_t seconds = 3600) const;
  // mcN/NAME/ ("dimm3", "rank0") with the files given.
  void module_dir(unsigned mc, const std::string& name, const module_files& files) const;
  // mcN/csrowK/ with chJ_ce_count, chJ_dimm_label and, when given,
  // chJ_ue_count for each channel J of the lists.
  struct row_channel {
    unsigned channel;
    std::string label;
    uint64_t ce;
    std::optional<uint64_t> ue;
  };
  void csrow(unsigned mc, unsigned row, const std::vector<row_channel>& channels,
             uint64_t size_mb = 8192) const;

 private:
  std::string root_;
};

#endif
