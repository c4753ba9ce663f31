# Sourced by the build scripts: compile through ccache when it is installed.
# Paths below the checkout are hashed relative to it, so another clone of the
# same sources finds the same cache entries.
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(pwd)}
fi
