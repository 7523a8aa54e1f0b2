# Shared part of the mingw-w64 toolchain files; ORYN_MINGW_TRIPLE names the target.
# The posix thread model gives std::thread and std::mutex (winpthread is linked statically).
set(CMAKE_C_COMPILER ${ORYN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORYN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ORYN_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ORYN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Windows test programs run under Wine, in a prefix private to the build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
