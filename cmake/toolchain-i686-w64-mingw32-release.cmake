# The release tree of the i686 executables: the win32 thread model (see mingw-w64-common.cmake).
set(TAVELKIN_THREAD_MODEL win32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-i686-w64-mingw32.cmake)
