#include "edac/edac_join.h"

#include <map>
#include <set>
#include <utility>

#include "edac/notes.h"
#include "text/text.h"

namespace {

// Text from the tree or the table as a note shows it: no control bytes.
std::string printable(const std::string& s) { return controls_as_question_marks(s); }

std::string device_text(const join_device& d) {
  const std::string b = fold_name(d.bank_locator).empty() ? "" : d.bank_locator;
  return "\"" + printable(b + (b.empty() ? "" : " ") + d.device_locator) + "\"";
}

// The folded names a device answers to under rule 1.
struct device_keys {
  std::set<std::string> full;  // "<bank> <device>" and its variants
  std::string locator;         // "<device>" alone
};

device_keys keys_of(const join_device& d) {
  device_keys k;
  const std::string b = fold_name(d.bank_locator);
  const std::string l = fold_name(d.device_locator);
  k.locator = l;
  if (!b.empty() && !l.empty()) {
    k.full.insert(b + " " + l);
  } else if (!b.empty()) {
    k.full.insert(b);
    k.full.insert(b + " n/a");
    k.full.insert(b + " na");
  } else if (!l.empty()) {
    k.full.insert(l);
    k.full.insert("n/a " + l);
    k.full.insert("na " + l);
  }
  return k;
}

void add_note(edac_join_result* r, std::string note) {
  add_bounded_note(&r->notes, &r->notes_dropped, kEdacMaxNotes, std::move(note));
}

// Whether f begins one of the full names of a device.
bool begins_a_name(const device_keys& k, const std::string& f) {
  for (const std::string& name : k.full)
    if (name.compare(0, f.size(), f) == 0) return true;
  return false;
}

void add_count(std::optional<uint64_t>* sum, const std::optional<uint64_t>& v) {
  if (!sum->has_value() || !v.has_value()) {
    sum->reset();
    return;
  }
  **sum = saturating_add(**sum, *v);
}

class matcher {
 public:
  explicit matcher(const std::vector<join_device>& devices) : devices_(devices) {
    for (const join_device& d : devices) {
      keys_.push_back(keys_of(d));
      if (!keys_.back().locator.empty()) ++locator_count_[keys_.back().locator];
    }
  }

  // The positions (in the input) of the devices label names; notes why
  // none when the label names several. A label the kernel may have cut
  // (from the tree, kEdacLabelMaxBytes long) also names the devices whose
  // full names it begins.
  std::vector<size_t> match(const std::string& label, bool from_kernel, const std::string& who,
                            edac_join_result* r) const {
    const std::string f = fold_name(label);
    std::vector<size_t> found;
    if (f.empty()) return found;
    const bool may_be_cut = from_kernel && label.size() == kEdacLabelMaxBytes;
    size_t shared_locator = 0;
    for (size_t i = 0; i < keys_.size(); ++i) {
      const bool full = keys_[i].full.count(f) != 0 || (may_be_cut && begins_a_name(keys_[i], f));
      const bool alone = keys_[i].locator == f;
      if (full || (alone && locator_count_.at(f) == 1)) {
        found.push_back(i);
      } else if (alone) {
        ++shared_locator;
      }
    }
    if (found.size() > 1) {
      std::string note = who + ": label \"" + printable(label) + "\"" +
                         (may_be_cut ? " (" + std::to_string(kEdacLabelMaxBytes) +
                                           " bytes, perhaps cut by the kernel)"
                                     : "") +
                         " matches " + std::to_string(found.size()) + " devices (";
      for (size_t k = 0; k < found.size(); ++k) {
        note += (k ? ", " : "") + device_text(devices_[found[k]]);
      }
      add_note(r, note + "), so none");
      found.clear();
    } else if (found.empty() && shared_locator > 1) {
      add_note(r, who + ": label \"" + printable(label) + "\" is the locator of " +
                      std::to_string(shared_locator) + " devices, so it names none");
    }
    return found;
  }

 private:
  const std::vector<join_device>& devices_;
  std::vector<device_keys> keys_;
  std::map<std::string, size_t> locator_count_;
};

}  // namespace

edac_join_result join_edac(const edac_report& report, const std::vector<join_device>& devices,
                           const std::vector<dimm_label_entry>& labels) {
  edac_join_result r;
  r.devices.resize(devices.size());
  for (const edac_controller& mc : report.controllers) {
    r.unplaced.push_back({mc.name, mc.ce_noinfo, mc.ue_noinfo});
  }
  std::map<std::vector<unsigned>, const dimm_label_entry*> by_position;
  for (const dimm_label_entry& e : labels) by_position.emplace(e.position, &e);

  const matcher m(devices);
  // Which layout first joined each device, to tell ranks from two modules.
  std::vector<edac_layout> first_layout(devices.size(), edac_layout::none);
  for (const edac_module& mod : report.modules) {
    std::vector<size_t> found;
    const char* how = "label";
    if (mod.label) found = m.match(*mod.label, /*from_kernel=*/true, mod.edac, &r);
    if (found.empty() && !mod.location_numbers.empty()) {
      std::vector<unsigned> position{mod.controller_index};
      position.insert(position.end(), mod.location_numbers.begin(), mod.location_numbers.end());
      const auto it = by_position.find(position);
      if (it != by_position.end()) {
        found = m.match(it->second->label, /*from_kernel=*/false,
                        mod.edac + " (label database, " + it->second->origin + ")", &r);
        how = "label_file";
      }
    }
    if (found.size() != 1) {
      // A row channel tied to no module directory has no layer position: a
      // label file's entry for it would be a guess.
      if (!mod.untied.empty())
        add_note(
            &r, mod.edac + ": " + printable(mod.untied) + ", so the module it counts is not known");
      r.unmatched.push_back({mod.edac, mod.label, mod.location, mod.ce, mod.ue});
      continue;
    }
    const size_t i = found[0];
    std::optional<device_errors>& slot = r.devices[i];
    if (!slot) {
      slot = device_errors{};
      slot->index = devices[i].index;
      slot->corrected = 0;
      slot->uncorrected = 0;
      slot->matched_by = how;
      first_layout[i] = mod.layout;
    } else {
      if (mod.layout == edac_layout::per_dimm || first_layout[i] == edac_layout::per_dimm) {
        add_note(&r, slot->edac.front() + " and " + mod.edac + " both join the device " +
                         device_text(devices[i]) + "; their counts are added");
      }
      if (std::string(how) == "label_file") slot->matched_by = how;
    }
    add_count(&slot->corrected, mod.ce);
    add_count(&slot->uncorrected, mod.ue);
    slot->edac.push_back(mod.edac);
  }
  return r;
}
