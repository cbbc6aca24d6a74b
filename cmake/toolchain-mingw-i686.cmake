# Cross toolchain for the i686 Windows build with the Debian MinGW-w64 "-posix" compilers
# (the "-win32" flavour lacks std::thread and std::mutex).
# Usage: cmake --preset win32   (scripts/setup.sh installs the compilers)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(_triple i686-w64-mingw32)

find_program(_cxx ${_triple}-g++-posix)
if(NOT _cxx)
  message(FATAL_ERROR "${_triple}-g++-posix not found: run scripts/setup.sh (package g++-mingw-w64-i686-posix)")
endif()
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_cxx})
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
