// The decoders of how the memory is set up (detail/layout.h), over a
// document whose arrays and devices are decoded.
#ifndef RAMINFO_DETAIL_SETUP_H
#define RAMINFO_DETAIL_SETUP_H

#include <string>
#include <tuple>
#include <vector>

#include "detail/detail.h"

namespace raminfo_detail {

// One channel of one array, under which the setup's rules group devices:
// ordered by array, socket and controller (none before any, numbers in
// order), then by the channel's name.
struct channel_id {
  opt<unsigned> array, socket, controller;
  std::string channel;
  bool operator<(const channel_id& o) const {
    return std::tie(array, socket, controller, channel) <
           std::tie(o.array, o.socket, o.controller, o.channel);
  }
};

// The channel a device's position names; the position must tell one.
channel_id channel_of(const memory_device& d);

// A type 19 or type 20 structure, DSP0134 7.20 and 7.21.
mapped_address decode_mapped_address(smbios_view t, const smbios_struct& st);

// What a device's Locator and Bank Locator (either may be null) say of its
// place, taken alone; the rules over the whole table (repeats, a maker's
// letters that name processors) are position_rules'.
opt<position> position_from_locators(const std::string* locator, const std::string* bank);

// Each device's position: from its locators, else from its type 20
// interleave, with what the whole table makes ambiguous left null.
void position_rules(document* doc);

// The configuration and the findings, from the positions and the devices.
void tell_configuration(document* doc);

// The findings as a person reads them, one line each, warnings first; "no
// findings" when there are none.
std::string findings_text(const std::vector<finding>& findings);

// A position's channel as a table shows it ("S0/MC1/A"); "" without one.
std::string channel_label(const opt<position>& p);

}  // namespace raminfo_detail

#endif
