#!/usr/bin/env bash
# Configures and builds three trees: build/native (host compiler, sanitizers, platform-free
# code, their tests and velm-publish for them), build/release (velm-publish alone,
# optimised and without sanitizers: the operators' artifact, two to three times faster
# than the sanitized one) and build/win (MinGW-w64: everything, VelmLauncher.exe included).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${VELM_JOBS:-$(nproc)}

# ccache, where present, keeps objects across clones and worktrees of the same machine
# (paths below the base folder are hashed relative to it).
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$root")}"
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

configure() { # build dir, extra cmake arguments (a later build type wins)...
  local dir=$1; shift
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >/dev/null
  fi
}
configure "$root/build/native"
configure "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DVELM_SANITIZE=OFF -DVELM_BUILD_TESTS=OFF
configure "$root/build/win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake"
echo "build: native"
cmake --build "$root/build/native" -j "$jobs"
echo "build: release (velm-publish)"
cmake --build "$root/build/release" -j "$jobs" --target velm-publish
echo "build: win"
cmake --build "$root/build/win" -j "$jobs"
