# The version as project() gives it, handed to everything that states it: the
# library's raminfo_version() text (a generated header) and, on Windows, the
# VERSIONINFO resource of the DLL and of raminfo.exe. The .pc file, the CMake
# package and the packages take PROJECT_VERSION directly.
set(RAMINFO_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in
  ${RAMINFO_GENERATED_DIR}/raminfo_build_version.h @ONLY)
target_include_directories(raminfo_core PRIVATE ${RAMINFO_GENERATED_DIR})
target_include_directories(raminfo_detail_shared PRIVATE ${RAMINFO_GENERATED_DIR})

if(WIN32)
  enable_language(RC)
  # raminfo_version_resource(TARGET FILENAME FILETYPE DESCRIPTION)
  function(raminfo_version_resource target filename filetype description)
    set(RAMINFO_RC_FILENAME ${filename})
    set(RAMINFO_RC_FILETYPE ${filetype})
    set(RAMINFO_RC_DESCRIPTION ${description})
    get_filename_component(RAMINFO_RC_INTERNAL_NAME ${filename} NAME_WE)
    set(rc ${RAMINFO_GENERATED_DIR}/${target}-version.rc)
    configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/win32/version.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
  endfunction()
  raminfo_version_resource(raminfo tarnwick-smbios-ram-info.dll VFT_DLL
    "Memory module inventory from the SMBIOS table")
  raminfo_version_resource(raminfo_detail_shared tarnwick-smbios-ram-info-detail.dll VFT_DLL
    "Memory arrays and modules in detail from the SMBIOS table")
  raminfo_version_resource(raminfo_cli raminfo.exe VFT_APP
    "Memory module inventory from the SMBIOS table, command-line host")
endif()
