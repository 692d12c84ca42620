// Where the table comes from, by the names the command line gives.
#include "sources/choice.h"

bool parse_table_source(const std::string& name, table_source* out) {
  if (name == "firmware")
    *out = table_source::firmware;
  else if (name == "udev")
    *out = table_source::udev;
  else
    return false;
  return true;
}

bool parse_dump_format(const std::string& name, dump_format* out) {
  if (name == "rsmb")
    *out = dump_format::rsmb;
  else if (name == "dmidecode")
    *out = dump_format::dmidecode;
  else if (name == "table")
    *out = dump_format::table;
  else
    return false;
  return true;
}
