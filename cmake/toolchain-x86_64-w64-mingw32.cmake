# Cross build for Windows (x86_64) with Debian's mingw-w64 packages
# (g++-mingw-w64-x86-64, binutils-mingw-w64-x86-64).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(SPSETUP_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
