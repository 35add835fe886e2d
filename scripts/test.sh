#!/usr/bin/env bash
# Every test: the portable core natively (plain, ASan+UBSan, TSan), and the
# Windows build under Wine. Both Windows builds must compile without warnings.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"

for build in native asan tsan win64 win32; do
  echo "== build $build"
  "$root/scripts/build.sh" "$build"
done

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1"
for build in native asan tsan; do
  echo "== test $build"
  ctest --test-dir "$root/build/$build" --output-on-failure
done

echo "== test win64 under Wine"
source "$root/scripts/wine-session.sh"
kw_start_wine
export KW_ARTIFACTS="$root/artifacts"
rm -rf "$KW_ARTIFACTS"
ctest --test-dir "$root/build/win64" --output-on-failure
for shot in "$KW_ARTIFACTS"/*.bmp; do
  [ -e "$shot" ] && convert "$shot" "${shot%.bmp}.png" && rm "$shot"
done
echo "screenshots: $KW_ARTIFACTS"
