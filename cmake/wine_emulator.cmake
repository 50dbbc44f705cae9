# When cross-compiling for Windows without an emulator of one's own, tests
# run under Wine through a wrapper script made here, in the build tree.
find_program(PACKRIFT_WINE NAMES wine64 wine PATHS /usr/lib/wine /usr/lib64/wine
  DOC "Wine loader that runs the Windows tests")
find_program(PACKRIFT_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine /usr/lib64/wine
  DOC "Wine server, waited for once the prefix is made")
find_program(PACKRIFT_FLOCK NAMES flock DOC "Serialises the making of the Wine prefix")
if(NOT PACKRIFT_WINE OR NOT PACKRIFT_WINESERVER OR NOT PACKRIFT_FLOCK)
  message(FATAL_ERROR "Testing the Windows build needs Wine (Debian: wine64) and flock; "
    "or configure with -DBUILD_TESTING=OFF, or name an emulator with CMAKE_CROSSCOMPILING_EMULATOR.")
endif()

set(PACKRIFT_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine)
set(wrapper ${CMAKE_BINARY_DIR}/wine-run)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${wrapper} @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${wrapper})
