// The choice of table the command line makes: which of this machine's
// sources, and the layout of a saved one.
#ifndef RAMINFO_TOOLS_SOURCES_CHOICE_H
#define RAMINFO_TOOLS_SOURCES_CHOICE_H

#include <string>

#include "smbios/block.h"

// Which table the command-line tool reads: --source.
enum class table_source { automatic, firmware, udev };

// The layout of a saved table: --dump-format. The layouts are the ones the
// library tells apart.
using dump_format = block_layout;

// Parses "firmware" or "udev"; false for anything else.
bool parse_table_source(const std::string& name, table_source* out);

// Parses "rsmb", "dmidecode" or "table"; false for anything else.
bool parse_dump_format(const std::string& name, dump_format* out);

#endif
