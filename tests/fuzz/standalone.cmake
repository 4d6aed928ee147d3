# Adds tests/fuzz to a build whose tests/CMakeLists.txt does not add it:
#   cmake ... -DCMAKE_PROJECT_INCLUDE=<source>/tests/fuzz/standalone.cmake
# The call waits until the top directory has been read (setup_core exists
# then) and does nothing when tests/fuzz is already part of the build.
# (A deferred call may not add a subdirectory, so the file is included.)
macro(setup_add_fuzz_targets)
  if(TARGET setup_core AND NOT TARGET fuzzers)
    include(${CMAKE_SOURCE_DIR}/tests/fuzz/CMakeLists.txt)
  endif()
endmacro()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL setup_add_fuzz_targets)
