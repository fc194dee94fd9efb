# Cross-compiling for 64-bit Windows with mingw-w64 (posix thread model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUORLEN_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUORLEN_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORLEN_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORLEN_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUORLEN_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Static C/C++ runtimes: the .exe needs only DLLs that ship with Windows.
# No link time stamp in the PE header, so one commit always links to the same bytes.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-static -static-libgcc -static-libstdc++ -Wl,--nxcompat -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--no-insert-timestamp")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
