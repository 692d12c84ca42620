# The version of the Debian copy that nlohmann_jsonConfig.cmake exposes.
include(/usr/share/cmake/nlohmann_json/nlohmann_jsonConfigVersion.cmake OPTIONAL
        RESULT_VARIABLE _raminfo_nlohmann_version)
if(NOT _raminfo_nlohmann_version)
  set(PACKAGE_VERSION "0")
  set(PACKAGE_VERSION_UNSUITABLE TRUE)
endif()
unset(_raminfo_nlohmann_version)
