# Fails when an object of the tracker carries a dynamic initialiser: its state
# must be constant-initialised to serve allocations made during static
# initialisation, whatever order the objects' initialisers run in.
#   cmake -DOBJDUMP=<objdump> -DOBJECTS=<a;b;...> -P no_dynamic_init.cmake
foreach(object IN LISTS OBJECTS)
  execute_process(COMMAND ${OBJDUMP} -h ${object} OUTPUT_VARIABLE sections RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot read ${object}")
  endif()
  if(sections MATCHES "[ \t](\\.init_array|\\.ctors)[ \t.]")
    message(FATAL_ERROR "${object} has a dynamic initialiser (${CMAKE_MATCH_1})")
  endif()
  message(STATUS "${object}: constant-initialised")
endforeach()
