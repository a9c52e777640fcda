# What both mingw-w64 toolchains share: the compilers of the POSIX thread model (GoogleTest needs
# std::mutex), linked statically; libraries from the target root only.
set(CMAKE_C_COMPILER ${HOTFIX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HOTFIX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${HOTFIX_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${HOTFIX_MINGW_TRIPLE}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${HOTFIX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
