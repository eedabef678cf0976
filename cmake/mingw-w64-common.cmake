# What both MinGW-w64 toolchain files share; TAV_MINGW_TRIPLET names the target.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TAV_MINGW_TRIPLET})
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR "${TAV_MINGW_TRIPLET}")

# The posix-threads variant: std::thread and std::mutex from winpthreads,
# linked statically into every binary.
set(CMAKE_C_COMPILER ${TAV_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAV_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TAV_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${TAV_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${TAV_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${TAV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No Linux package may leak into a Windows build through pkg-config.
set(ENV{PKG_CONFIG_LIBDIR} "")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "/usr/${TAV_MINGW_TRIPLET}")

find_program(TAV_WINE NAMES wine)
if(TAV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAV_WINE})
endif()
