# Cross toolchain for the x86_64 Windows build with the Debian MinGW-w64 "-posix" compilers
# (the "-win32" flavour lacks std::thread and std::mutex).
# Usage: cmake --preset win64   (scripts/setup.sh installs the compilers)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_triple x86_64-w64-mingw32)

find_program(_cxx ${_triple}-g++-posix)
if(NOT _cxx)
  message(FATAL_ERROR "${_triple}-g++-posix not found: run scripts/setup.sh (package g++-mingw-w64-x86-64-posix)")
endif()
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_cxx})
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
