# bench/run passes this file as CMAKE_PROJECT_QuillSift_INCLUDE while the top-level
# CMakeLists.txt does not add bench/ itself: bench/CMakeLists.txt is then read at the end
# of the top level, once every library it links is defined.
function(qs_bench_attach)
  if(NOT TARGET qs_bench)
    include(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/CMakeLists.txt)
  endif()
endfunction()
cmake_language(DEFER CALL qs_bench_attach)
