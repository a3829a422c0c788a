# One interface target that every project target links: language level, warnings,
# Qt's strict macros and the sanitizers.
add_library(qs_common INTERFACE)
target_compile_features(qs_common INTERFACE cxx_std_20)

# Debian builds every package with the flags of dpkg-buildflags (stack protector,
# _FORTIFY_SOURCE, full RELRO with -z now; PIE is the compiler's default): the optimised builds
# take them too, so that what is tested is what is packaged. The build type keeps choosing the
# optimisation level and debug information, so -O and -g are left out. Not under the sanitizers,
# which _FORTIFY_SOURCE gets in the way of, nor in unoptimised builds, where _FORTIFY_SOURCE
# only warns. Debian's DEB_*_APPEND / DEB_BUILD_MAINT_OPTIONS variables are honoured.
option(QS_DISTRO_FLAGS "Build optimised builds with the hardening flags of dpkg-buildflags" ON)
if(QS_DISTRO_FLAGS AND NOT QS_SANITIZE)
  find_program(DPKG_BUILDFLAGS_PROGRAM dpkg-buildflags) # Debian package dpkg-dev
  if(NOT DPKG_BUILDFLAGS_PROGRAM)
    message(FATAL_ERROR "dpkg-buildflags (dpkg-dev) is missing; install it or pass "
                        "-DQS_DISTRO_FLAGS=OFF for an unhardened build")
  endif()
  set(qs_distro_maint_options "hardening=+all")
  if(DEFINED ENV{DEB_BUILD_MAINT_OPTIONS})
    set(qs_distro_maint_options "hardening=+all $ENV{DEB_BUILD_MAINT_OPTIONS}")
  endif()
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    # From the source folder: the path that -ffile-prefix-map drops is taken from there.
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env "DEB_BUILD_MAINT_OPTIONS=${qs_distro_maint_options}"
              ${DPKG_BUILDFLAGS_PROGRAM} --get ${kind}
      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
      COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    list(FILTER flags EXCLUDE REGEX "^-(O.*|g[0-9]*)$")
    set(QS_DISTRO_${kind} ${flags})
  endforeach()
  message(STATUS "Optimised builds take dpkg-buildflags: ${QS_DISTRO_CPPFLAGS} "
                 "${QS_DISTRO_CXXFLAGS} ${QS_DISTRO_LDFLAGS}")
  # First, so that the project's own warnings below are not lowered (-Wformat after
  # -Wformat=2 would).
  set(optimised "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
  target_compile_options(qs_common INTERFACE
    "$<${optimised}:${QS_DISTRO_CPPFLAGS};${QS_DISTRO_CXXFLAGS}>")
  target_link_options(qs_common INTERFACE "$<${optimised}:${QS_DISTRO_LDFLAGS}>")
endif()

target_compile_options(qs_common INTERFACE -Wall -Wextra -Wpedantic -Wshadow
                                           -Wnon-virtual-dtor -Wcast-align -Wformat=2)
if(QS_WERROR)
  target_compile_options(qs_common INTERFACE -Werror)
endif()
target_compile_definitions(qs_common INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_CAST_TO_ASCII
  QT_NO_CONTEXTLESS_CONNECT
  QT_NO_URL_CAST_FROM_STRING
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_USE_QSTRINGBUILDER)
if(QS_SANITIZE)
  target_compile_options(qs_common INTERFACE -fsanitize=address,undefined
                                             -fno-sanitize-recover=undefined
                                             -fno-omit-frame-pointer)
  target_link_options(qs_common INTERFACE -fsanitize=address,undefined)
endif()

# qs_library(NAME SOURCES file... LIBS lib...): a static library that sees src/ as its include
# root and links qs_common.
function(qs_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC qs_common ${ARG_LIBS})
endfunction()
