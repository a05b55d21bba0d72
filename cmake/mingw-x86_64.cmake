# Cross-compiling the 64-bit Windows console program with mingw-w64 from Debian
# (package g++-mingw-w64-x86-64):
#   cmake -S . -B build-win64 --toolchain cmake/mingw-x86_64.cmake
set(MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
