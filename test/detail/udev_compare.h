// Compares the detail document with systemd's dmi_memory_id, the decoder
// behind udev's MEMORY_DEVICE_* properties.
#ifndef RAMINFO_TEST_DETAIL_UDEV_COMPARE_H
#define RAMINFO_TEST_DETAIL_UDEV_COMPARE_H

#include <string>
#include <vector>

// The path scripts/udev-decoder prints, or "" when it cannot provide one.
// Asked once per process.
std::string udev_decoder_path();

// Runs `TOOL -F DMI_PATH` and checks every property it prints against the
// document; one line per disagreement. udev's known losses are the named
// rules in udev_compare.cpp.
std::vector<std::string> compare_detail_with_udev(const std::string& detail_json,
                                                  const std::string& tool,
                                                  const std::string& dmi_path);

#endif
