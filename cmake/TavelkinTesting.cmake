# tavelkin_add_test(NAME <name> SOURCES <files...> [LIBS <libs...>])
# Builds a test executable and registers it with ctest, to run in a working
# directory of its own (where memory.log lands). On Windows the executable runs
# through the crosscompiling emulator (scripts/wine-exec) in the build tree's own
# Wine prefix; every Windows executable links the allocation tracker.
function(tavelkin_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest_main)
  if(WIN32)
    tavelkin_track_allocations(${T_NAME})
  endif()
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}.run)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}.run)
  set_tests_properties(${T_NAME} PROPERTIES LABELS unit TIMEOUT 600)
endfunction()

# Every allocation of a Windows executable goes through the tracker: link its
# replacement operators as objects so the linker cannot skip them.
function(tavelkin_track_allocations target)
  if(TARGET memtrack_operators)
    target_link_libraries(${target} PRIVATE memtrack_operators)
  endif()
endfunction()
