# Cross-compiling kestrel.exe for 64-bit Windows with mingw-w64 (Debian package
# g++-mingw-w64-x86-64):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DKESTREL_TESTS=OFF
# The C and C++ runtimes and winpthread are linked statically, so kestrel.exe
# needs no DLL beyond those Windows itself has.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KESTREL_MINGW_TRIPLE x86_64-w64-mingw32)
# The "-posix" and "-win32" compilers differ only in their thread model, which
# kestrel does not use; take whichever is installed, preferring the plain name.
find_program(CMAKE_CXX_COMPILER NAMES ${KESTREL_MINGW_TRIPLE}-g++ ${KESTREL_MINGW_TRIPLE}-g++-win32 ${KESTREL_MINGW_TRIPLE}-g++-posix)
find_program(CMAKE_RC_COMPILER NAMES ${KESTREL_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTREL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
