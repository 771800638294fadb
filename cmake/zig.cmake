# Toolchain of the portable wheels: the Zig toolchain from PyPI, which brings
# its own C library headers for any glibc version and LLVM's C++ runtime,
# linked statically. The environment names the zig binary (QCAPS_ZIG) and
# the target (QCAPS_ZIG_TARGET, such as aarch64-linux-gnu.2.17); CMake's
# check builds see the environment too.
if(NOT DEFINED ENV{QCAPS_ZIG} OR NOT DEFINED ENV{QCAPS_ZIG_TARGET})
  message(FATAL_ERROR "cmake/zig.cmake needs QCAPS_ZIG and QCAPS_ZIG_TARGET in the environment")
endif()

string(REGEX MATCH "^[^-]+" _qcaps_zig_arch "$ENV{QCAPS_ZIG_TARGET}")
if(NOT _qcaps_zig_arch STREQUAL CMAKE_HOST_SYSTEM_PROCESSOR)
  set(CMAKE_SYSTEM_NAME Linux)
  set(CMAKE_SYSTEM_PROCESSOR ${_qcaps_zig_arch})
endif()

set(_qcaps_zig_tools "${CMAKE_CURRENT_LIST_DIR}/../tools/zig")
set(CMAKE_C_COMPILER "${_qcaps_zig_tools}/cc")
set(CMAKE_CXX_COMPILER "${_qcaps_zig_tools}/c++")
set(CMAKE_AR "${_qcaps_zig_tools}/ar" CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB "${_qcaps_zig_tools}/ranlib" CACHE FILEPATH "Archive indexer")
# The C++ runtime is linked in whole; link-time optimisation is left to the
# builds with the system compiler.
set(CMAKE_INTERPROCEDURAL_OPTIMIZATION OFF)

# Release output that does not depend on where or how it was built: no
# build path in the modules (the sources, the build tree and the toolchain's
# own files are named relative to fixed roots), and symbols and debug
# information dropped by the toolchain's own linker. pybind11 runs CMake's
# strip tool after linking; the host's strip would give other bytes, or
# fail on another architecture, so the toolchain's stand-in is named.
get_filename_component(_qcaps_source "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
get_filename_component(_qcaps_zig_lib "$ENV{QCAPS_ZIG}" DIRECTORY)
set(CMAKE_CXX_FLAGS_INIT
    "-ffile-prefix-map=${_qcaps_source}=qcaps -ffile-prefix-map=${_qcaps_zig_lib}=zig")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-Wl,--strip-all")
set(CMAKE_STRIP "${_qcaps_zig_tools}/strip" CACHE FILEPATH "Strip tool")