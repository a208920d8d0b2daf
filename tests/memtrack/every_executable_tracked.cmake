# Fails when a Windows executable of the build tree was linked without the
# tracker's operators (tavelkin_track_allocations).
#   cmake -DNM=<nm> -DTREE=<build tree> -P every_executable_tracked.cmake
cmake_minimum_required(VERSION 3.20)  # globbing does not follow symbolic links

# Wine prefixes hold Wine's own programs, and their drive links lead everywhere.
file(GLOB children LIST_DIRECTORIES true "${TREE}/*")
list(FILTER children EXCLUDE REGEX "/(wineprefix[^/]*|e2e|CMakeFiles|Testing)$")
set(executables)
foreach(child IN LISTS children)
  if(IS_DIRECTORY "${child}")
    file(GLOB_RECURSE found "${child}/*.exe")
    list(APPEND executables ${found})
  elseif(child MATCHES "\\.exe$")
    list(APPEND executables "${child}")
  endif()
endforeach()
list(FILTER executables EXCLUDE REGEX "/CMakeFiles/")
if(NOT executables)
  message(FATAL_ERROR "no executable found under ${TREE}")
endif()
list(LENGTH executables count)
message(STATUS "checking ${count} executables")
foreach(exe IN LISTS executables)
  execute_process(COMMAND ${NM} ${exe} OUTPUT_VARIABLE symbols RESULT_VARIABLE status ERROR_QUIET)
  if(NOT status EQUAL 0 OR NOT symbols MATCHES "[ \t]T _?_Z15TrackedAllocate")
    message(FATAL_ERROR "${exe} does not link the allocation tracker")
  endif()
endforeach()
