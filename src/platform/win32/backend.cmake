# Build settings of the Windows backend, included by src/platform/CMakeLists.txt.
#
# Windows 7 is the oldest system the executable starts on: newer functions (the loader's
# SetDefaultDllDirectories) are looked up at run time, never imported.
target_compile_definitions(spsetup_platform PUBLIC UNICODE _UNICODE _WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX)

# kernel32, user32 and shell32 are load-time imports; msi.dll is loaded at run time from
# the system directory only, so it is deliberately not linked.
target_link_libraries(spsetup_platform PUBLIC user32 shell32 kernel32)

# What the executable linking the backend becomes: a GUI program (subsystem 2) entered at
# wWinMain, with the C and C++ runtime and winpthread linked in, so that it needs no DLL
# beyond Windows' own.
target_compile_options(spsetup_platform PUBLIC -municode)
target_link_options(spsetup_platform INTERFACE -municode -mwindows -static -static-libgcc -static-libstdc++)

# The same commit links to the same bytes: no link time in the PE header (the field stays
# 0, which the loader ignores), and no symbols or debug sections, which the runtime
# libraries bring along with the paths they were built at.
target_link_options(spsetup_platform INTERFACE -Wl,--no-insert-timestamp -s)
