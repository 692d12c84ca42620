# nlohmann_json for a cross build. The library is header-only, so the build
# machine's Debian copy serves any target; but its own package points at the
# whole of /usr/include, which would shadow the cross compiler's C library.
# This one exposes a directory holding nothing but a link to nlohmann/.
find_path(RAMINFO_NLOHMANN_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH)
if(NOT RAMINFO_NLOHMANN_INCLUDE)
  set(nlohmann_json_FOUND FALSE)
  set(nlohmann_json_NOT_FOUND_MESSAGE "nlohmann/json.hpp not found (Debian: nlohmann-json3-dev)")
  return()
endif()
if(NOT TARGET nlohmann_json::nlohmann_json)
  set(_raminfo_nlohmann_dir ${CMAKE_BINARY_DIR}/cross-include/nlohmann-json)
  file(MAKE_DIRECTORY ${_raminfo_nlohmann_dir})
  if(NOT EXISTS ${_raminfo_nlohmann_dir}/nlohmann)
    file(CREATE_LINK ${RAMINFO_NLOHMANN_INCLUDE}/nlohmann ${_raminfo_nlohmann_dir}/nlohmann SYMBOLIC)
  endif()
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${_raminfo_nlohmann_dir})
  unset(_raminfo_nlohmann_dir)
endif()
set(nlohmann_json_FOUND TRUE)
