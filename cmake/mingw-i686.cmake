# Cross-compiling the 32-bit Windows console program with mingw-w64 from Debian
# (package g++-mingw-w64-i686):
#   cmake -S . -B build-win32 --toolchain cmake/mingw-i686.cmake
set(MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
