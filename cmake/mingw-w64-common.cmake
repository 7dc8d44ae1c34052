# The part of the mingw-w64 cross builds that both architectures share; the toolchain file
# of each sets CMAKE_SYSTEM_PROCESSOR and SPSETUP_MINGW_TRIPLE and includes this.
#
# The -posix thread variant of the compiler is taken on purpose: its C++ library has the
# whole of <thread>, <mutex> and <condition_variable> (the -win32 variant of g++ 12 lacks
# them), and winpthread is linked statically with the rest of the runtime, so the
# executable still needs no DLL beyond Windows' own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${SPSETUP_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SPSETUP_MINGW_TRIPLE}-g++-posix)
set(CMAKE_ASM_COMPILER ${SPSETUP_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_RC_COMPILER ${SPSETUP_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${SPSETUP_MINGW_TRIPLE}-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${SPSETUP_MINGW_TRIPLE}-ranlib CACHE FILEPATH "Archive indexer")
set(CMAKE_OBJDUMP ${SPSETUP_MINGW_TRIPLE}-objdump CACHE FILEPATH "Object dumper")

set(CMAKE_FIND_ROOT_PATH /usr/${SPSETUP_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
