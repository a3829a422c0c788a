# One interface target that every project target links: language level, warnings,
# Qt's strict macros and the sanitizers.
add_library(qs_common INTERFACE)
target_compile_features(qs_common INTERFACE cxx_std_20)
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
