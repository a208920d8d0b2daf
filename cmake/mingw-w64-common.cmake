# Windows with mingw-w64, linked statically so the executables need no MinGW DLLs. TOOLCHAIN_PREFIX
# names the target, e.g. i686-w64-mingw32. The test trees use the posix thread model (GoogleTest
# needs std::mutex); a release tree sets TAVELKIN_THREAD_MODEL to win32, whose static run-time
# imports nothing that Windows XP lacks.
if(NOT TAVELKIN_THREAD_MODEL)
  set(TAVELKIN_THREAD_MODEL posix)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER   ${TOOLCHAIN_PREFIX}-gcc-${TAVELKIN_THREAD_MODEL})
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-${TAVELKIN_THREAD_MODEL})
set(CMAKE_RC_COMPILER  ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-exec)
