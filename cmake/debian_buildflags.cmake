# Debian builds its packages with the hardening flags dpkg-buildflags gives:
# fortified calls, a strong stack protector, full RELRO with immediate
# binding, a position-independent executable. The package preset takes them,
# before the project's own optimisation flags, which still decide the level.
find_program(PACKRIFT_DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${PACKRIFT_DPKG_BUILDFLAGS} --get ${kind}
    OUTPUT_VARIABLE flags_${kind}
    OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
string(APPEND CMAKE_CXX_FLAGS " ${flags_CPPFLAGS} ${flags_CXXFLAGS}")
string(APPEND CMAKE_EXE_LINKER_FLAGS " ${flags_LDFLAGS}")
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
message(STATUS "Debian's build flags: ${flags_CPPFLAGS} ${flags_CXXFLAGS}; linked with ${flags_LDFLAGS}")
