#!/usr/bin/env bash
# Configures and builds one of the project's builds into build/NAME.
#   build.sh native | asan | tsan | win64 | win32 [TARGET...]
# With targets, builds only those (package.sh builds only the program).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
name=$1
shift
targets=()
[ "$#" -eq 0 ] || targets=(--target "$@")
case "$name" in
  native) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan) args=(-DCMAKE_BUILD_TYPE=Debug -DKW_SANITIZE=address,undefined) ;;
  tsan) args=(-DCMAKE_BUILD_TYPE=Debug -DKW_SANITIZE=thread) ;;
  win64) args=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release) ;;
  win32) args=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" -DCMAKE_BUILD_TYPE=Release) ;;
  *) echo "build.sh: unknown build $name" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$root/build/$name" -DCMAKE_COMPILE_WARNING_AS_ERROR=ON "${args[@]}" >/dev/null
cmake --build "$root/build/$name" -j"$(nproc)" "${targets[@]}"
