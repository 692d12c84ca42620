// One structure's fields read through the core's bounds-checked reads, for
// each decoder of the detail document.
#ifndef RAMINFO_DETAIL_FIELDS_H
#define RAMINFO_DETAIL_FIELDS_H

#include <cstdint>
#include <string>
#include <vector>

#include "detail/detail.h"

namespace raminfo_detail {

// One structure's fields. A field is present only when the length byte
// covers all of it and the table holds all of it; anything else is null
// (smbios_fields::get).
class fields {
 public:
  fields(smbios_view t, const smbios_struct& st) : f_(t, st) {}

  opt<uint8_t> byte(size_t off) const { return number<uint8_t>(off, 1); }
  opt<uint16_t> word(size_t off) const { return number<uint16_t>(off, 2); }
  opt<uint32_t> dword(size_t off) const { return number<uint32_t>(off, 4); }
  opt<uint64_t> qword(size_t off) const { return f_.get64(off); }
  opt<coded> code(size_t off, size_t width, const char* (*name)(uint32_t)) const {
    const opt<uint32_t> v = f_.get(off, width);
    if (!v) return std::nullopt;
    return coded{*v, name(*v)};
  }
  opt<flags> bits(size_t off, std::vector<const char*> (*names)(uint32_t)) const {
    const opt<uint16_t> v = word(off);
    if (!v) return std::nullopt;
    return flags{*v, names(*v)};
  }
  opt<text_field> text(size_t off) const {
    const opt<uint8_t> n = byte(off);
    if (!n) return std::nullopt;
    text_field f;
    f.number = *n;
    const smbios_text s = smbios_string(f_.table(), f_.structure().strings, *n);
    if (s.len > 0) {
      f.raw = std::string(reinterpret_cast<const char*>(s.data), s.len);
      f.placeholder = is_placeholder(*f.raw);
    }
    return f;
  }

 private:
  template <typename T>
  opt<T> number(size_t off, size_t width) const {
    const opt<uint32_t> v = f_.get(off, width);
    if (!v) return std::nullopt;
    return static_cast<T>(*v);
  }

  smbios_fields f_;
};

}  // namespace raminfo_detail

#endif
