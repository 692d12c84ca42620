# Read by cpack once per generator (CPACK_PROJECT_CONFIG_FILE): which install
# components each kind of package holds.
if(CPACK_GENERATOR STREQUAL "DEB")
  # Three packages, each a group of components with its own Debian copyright
  # and changelog; README and LICENSE stay out (the copyright file has it).
  set(CPACK_COMPONENTS_ALL lib debian-library dev buildsys debian-development cli debian-program)
  foreach(entry LIB:library DEBIAN-LIBRARY:library DEV:development BUILDSYS:development
                DEBIAN-DEVELOPMENT:development CLI:program DEBIAN-PROGRAM:program)
    string(REPLACE ":" ";" entry "${entry}")
    list(GET entry 0 component)
    list(GET entry 1 group)
    set(CPACK_COMPONENT_${component}_GROUP ${group})
  endforeach()
elseif(CPACK_GENERATOR STREQUAL "ZIP")
  # What a Windows developer drops in: the DLL, raminfo.exe, the import
  # library, the .def file, the header, README and LICENSE.
  set(CPACK_COMPONENTS_ALL lib dev cli docs)
else()
  # The whole install tree.
  set(CPACK_COMPONENTS_ALL lib dev buildsys cli docs)
endif()
