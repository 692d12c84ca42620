#include "edac_tree.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

module_files module(const std::string& label, const std::string& location, uint64_t ce, uint64_t ue,
                    uint64_t size_mib) {
  module_files m;
  m.label = label + "\n";
  m.location = location + " \n";
  m.size = std::to_string(size_mib) + "\n";
  m.ce = std::to_string(ce) + "\n";
  m.ue = std::to_string(ue) + "\n";
  return m;
}

edac_tree::edac_tree() {
  char tmpl[] = "/tmp/raminfo-edac-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
  root_ = tmpl;
}

edac_tree::~edac_tree() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

std::string edac_tree::mc_path(unsigned n) const {
  return root_ + "/devices/system/edac/mc/mc" + std::to_string(n);
}

void edac_tree::dir(const std::string& rel) const {
  std::error_code ec;
  fs::create_directories(root_ + "/" + rel, ec);
  if (ec) ADD_FAILURE() << "mkdir " << rel << ": " << ec.message();
}

void edac_tree::file(const std::string& rel, const std::string& content) const {
  const fs::path p = root_ + "/" + rel;
  dir(p.parent_path().lexically_relative(root_).string());
  std::ofstream out(p, std::ios::binary);
  out << content;
  if (!out.good()) ADD_FAILURE() << "writing " << rel;
}

void edac_tree::symlink(const std::string& rel, const std::string& target) const {
  const fs::path p = root_ + "/" + rel;
  dir(p.parent_path().lexically_relative(root_).string());
  if (::symlink(target.c_str(), p.c_str()) != 0) {
    ADD_FAILURE() << "symlink " << rel << ": " << std::strerror(errno);
  }
}

void edac_tree::fifo(const std::string& rel) const {
  const fs::path p = root_ + "/" + rel;
  dir(p.parent_path().lexically_relative(root_).string());
  if (::mkfifo(p.c_str(), 0600) != 0)
    ADD_FAILURE() << "mkfifo " << rel << ": " << std::strerror(errno);
}

void edac_tree::remove(const std::string& rel) const {
  std::error_code ec;
  fs::remove_all(root_ + "/" + rel, ec);
  if (ec) ADD_FAILURE() << "remove " << rel << ": " << ec.message();
}

void edac_tree::controller(unsigned n, uint64_t ce_noinfo, uint64_t ue_noinfo,
                           uint64_t seconds) const {
  const std::string mc = "devices/system/edac/mc/mc" + std::to_string(n);
  file(mc + "/mc_name", "Sandy Bridge SrcID#" + std::to_string(n) + "_Ha#0\n");
  file(mc + "/ce_noinfo_count", std::to_string(ce_noinfo) + "\n");
  file(mc + "/ue_noinfo_count", std::to_string(ue_noinfo) + "\n");
  file(mc + "/seconds_since_reset", std::to_string(seconds) + "\n");
}

void edac_tree::module_dir(unsigned mc, const std::string& name, const module_files& f) const {
  const std::string d = "devices/system/edac/mc/mc" + std::to_string(mc) + "/" + name;
  dir(d);
  if (f.label) file(d + "/dimm_label", *f.label);
  if (f.location) file(d + "/dimm_location", *f.location);
  if (f.size) file(d + "/size", *f.size);
  if (f.ce) file(d + "/dimm_ce_count", *f.ce);
  if (f.ue) file(d + "/dimm_ue_count", *f.ue);
  if (f.mem_type) file(d + "/dimm_mem_type", *f.mem_type + "\n");
  if (f.edac_mode) file(d + "/dimm_edac_mode", *f.edac_mode + "\n");
}

void edac_tree::csrow(unsigned mc, unsigned row, const std::vector<row_channel>& channels,
                      uint64_t size_mb) const {
  const std::string d =
      "devices/system/edac/mc/mc" + std::to_string(mc) + "/csrow" + std::to_string(row);
  file(d + "/size_mb", std::to_string(size_mb) + "\n");
  file(d + "/mem_type", "Unbuffered-DDR4\n");
  file(d + "/edac_mode", "SECDED\n");
  uint64_t ce = 0;
  for (const row_channel& c : channels) {
    const std::string ch = d + "/ch" + std::to_string(c.channel);
    file(ch + "_dimm_label", c.label + "\n");
    file(ch + "_ce_count", std::to_string(c.ce) + "\n");
    if (c.ue) file(ch + "_ue_count", std::to_string(*c.ue) + "\n");
    ce += c.ce;
  }
  file(d + "/ce_count", std::to_string(ce) + "\n");
  file(d + "/ue_count", "0\n");
}
