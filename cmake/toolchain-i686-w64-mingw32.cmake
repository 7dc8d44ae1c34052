# Cross build for Windows (i686) with Debian's mingw-w64 packages
# (g++-mingw-w64-i686, binutils-mingw-w64-i686).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(SPSETUP_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
