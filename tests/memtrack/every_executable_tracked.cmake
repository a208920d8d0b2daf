# Fails when a Windows executable of the build tree was linked without the
# tracker's operators (tavelkin_track_allocations): its allocations would
# bypass the tracker.
#   cmake -DNM=<nm> -DTREE=<build tree> -P every_executable_tracked.cmake
cmake_minimum_required(VERSION 3.20)  # globbing does not follow symbolic links

# Wine prefixes are left out: they hold Wine's own programs, and their drive
# links lead to the whole file system.
file(GLOB children LIST_DIRECTORIES true "${TREE}/*")
set(executables)
foreach(child IN LISTS children)
  get_filename_component(name "${child}" NAME)
  if(name MATCHES "^wineprefix|^e2e$|^CMakeFiles$|^Testing$")
    continue()
  endif()
  if(IS_DIRECTORY "${child}")
    file(GLOB_RECURSE found LIST_DIRECTORIES false "${child}/*.exe")
    list(APPEND executables ${found})
  elseif(name MATCHES "\\.exe$")
    list(APPEND executables "${child}")
  endif()
endforeach()

set(checked 0)
foreach(exe IN LISTS executables)
  if(exe MATCHES "/CMakeFiles/")
    continue()
  endif()
  execute_process(COMMAND ${NM} ${exe} OUTPUT_VARIABLE symbols ERROR_QUIET RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot read the symbols of ${exe}")
  endif()
  if(NOT symbols MATCHES "[ \t]T _?_Z15TrackedAllocate")
    message(FATAL_ERROR "${exe} does not link the allocation tracker")
  endif()
  math(EXPR checked "${checked} + 1")
endforeach()
if(checked EQUAL 0)
  message(FATAL_ERROR "no executable found under ${TREE}")
endif()
message(STATUS "${checked} executables link the allocation tracker")
