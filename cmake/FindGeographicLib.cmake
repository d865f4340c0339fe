# Finds GeographicLib (Debian: libgeographiclib-dev) through pkg-config, or by
# its header and library where pkg-config is missing, and defines the imported
# target GeographicLib::GeographicLib. Used by the build and installed with
# slipvel's CMake package, whose slipvel::rupture needs it.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(PC_GeographicLib QUIET geographiclib)
endif()
find_path(GeographicLib_INCLUDE_DIR GeographicLib/Geodesic.hpp HINTS ${PC_GeographicLib_INCLUDE_DIRS})
find_library(GeographicLib_LIBRARY NAMES GeographicLib HINTS ${PC_GeographicLib_LIBRARY_DIRS})
mark_as_advanced(GeographicLib_INCLUDE_DIR GeographicLib_LIBRARY)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(GeographicLib REQUIRED_VARS GeographicLib_LIBRARY GeographicLib_INCLUDE_DIR)
if(GeographicLib_FOUND AND NOT TARGET GeographicLib::GeographicLib)
  add_library(GeographicLib::GeographicLib UNKNOWN IMPORTED)
  set_target_properties(GeographicLib::GeographicLib PROPERTIES
    IMPORTED_LOCATION "${GeographicLib_LIBRARY}" INTERFACE_INCLUDE_DIRECTORIES "${GeographicLib_INCLUDE_DIR}")
endif()
