# Builds that give the same bytes from the same commit, wherever the tree is
# and whenever it is built (scripts/release turns this on and also sets
# SOURCE_DATE_EPOCH): no build paths in the objects, no link time stamp in a
# Windows module.
option(RAMINFO_REPRODUCIBLE "Leave build paths and times out of the binaries" OFF)
if(RAMINFO_REPRODUCIBLE)
  # The build directory may lie inside the source tree: its map comes last,
  # so that it wins for paths under it.
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=
                      -ffile-prefix-map=${PROJECT_BINARY_DIR}/=)
endif()
if(MINGW)
  # The PE header's TimeDateStamp stays zero.
  add_link_options(-Wl,--no-insert-timestamp)
endif()
