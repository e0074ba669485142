# Compiles through ccache when it is installed. The cache lives outside the source tree (ORVEL_CCACHE_DIR,
# by default /var/cache/orvel-ccache) so that every clone and CI run on the machine reuses it; paths are
# taken relative to the source tree and the build folder is left out of the hash, so two clones of the same
# commit share their objects.
find_program(ORVEL_CCACHE ccache)
set(ORVEL_CCACHE_DIR "/var/cache/orvel-ccache" CACHE PATH "Where the compiler cache lives")
if(ORVEL_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(launcher "${CMAKE_COMMAND}" -E env
      "CCACHE_DIR=${ORVEL_CCACHE_DIR}" "CCACHE_BASEDIR=${CMAKE_SOURCE_DIR}" "CCACHE_NOHASHDIR=1"
      "CCACHE_MAXSIZE=5G" "${ORVEL_CCACHE}")
  set(CMAKE_C_COMPILER_LAUNCHER ${launcher})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${launcher})
endif()
