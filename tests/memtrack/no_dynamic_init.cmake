# Fails when an object of the tracker has a dynamic initialiser: its state must
# be constant-initialised to serve allocations made during static initialisation.
#   cmake -DOBJDUMP=<objdump> -DOBJECTS=<a;b;...> -P no_dynamic_init.cmake
foreach(object IN LISTS OBJECTS)
  execute_process(COMMAND ${OBJDUMP} -h ${object} OUTPUT_VARIABLE sections RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR sections MATCHES "[ \t](\\.init_array|\\.ctors)[ \t.]")
    message(FATAL_ERROR "${object} is unreadable or has a dynamic initialiser")
  endif()
endforeach()
