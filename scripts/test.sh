#!/usr/bin/env bash
# Every test: the portable core natively (plain, ASan+UBSan, TSan); the
# release packages; and under Wine, in one prefix that runs 32- and 64-bit
# programs, the Win32 layer's tests of both builds, then the end-to-end tests
# against both packaged programs under two locales: zh_CN.UTF-8 (ANSI code
# page 936, the program's own) and en_US.UTF-8 (1252, a Western Windows),
# and both installer packages installed, run and removed with Wine's msiexec.
# Both Windows builds must compile without warnings. On a machine that runs
# no 32-bit programs the 32-bit program is still built, packaged and checked,
# but its Wine passes are skipped, as the first and the last lines say.
#   KW_E2E_FILTER  a GoogleTest filter for the end-to-end passes (default: all)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
started=$SECONDS
source "$root/scripts/wine-session.sh"
kw_runs_32bit || echo "== $KW_NO_32BIT"

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

echo "== release packages"
"$root/scripts/package.sh"
python3 "$root/scripts/check_packages.py" "$root/dist"

# From here on every pass runs even when an earlier one failed; the run
# fails at the end if any did.
failed=()
pass() {  # pass NAME COMMAND...: runs one test pass and records its outcome
  local name=$1 t0=$SECONDS
  shift
  echo "== $name"
  if "$@"; then
    echo "== $name: passed ($((SECONDS - t0)) s)"
  else
    echo "== $name: FAILED ($((SECONDS - t0)) s)"
    failed+=("$name")
  fi
}

kw_start_wine
artifacts="$root/artifacts"
rm -rf "$artifacts"
mkdir -p "$artifacts"

# The builds and installer architectures whose programs this machine runs.
wine_builds=(win64)
msi_archs=(x64)
if kw_runs_32bit; then
  wine_builds+=(win32)
  msi_archs+=(x86)
fi

for build in "${wine_builds[@]}"; do
  pass "Win32 layer tests, $build" "$KW_WINE" "$root/build/$build/bin/kw_win32_tests.exe"
done

# The packaged programs, each in a folder of its own with the upload tool's
# stand-in of its bitness beside it. The program takes winmm.dll from the
# system folder alone: the stand-in goes there (SysWOW64 for the 32-bit
# one), loaded in place of Wine's own for Keywarden.exe only.
for build in "${wine_builds[@]}"; do
  mkdir -p "$KW_WINE_ROOT/run/$build"
  cp "$root/dist/$build/Keywarden.exe" "$root/build/$build/bin/VirusTotalUpload.exe" \
    "$KW_WINE_ROOT/run/$build/"
done
cp "$root/build/win64/bin/winmm.dll" "$WINEPREFIX/drive_c/windows/system32/winmm.dll"
cp "$root/build/win32/bin/winmm.dll" "$WINEPREFIX/drive_c/windows/syswow64/winmm.dll"
# The programs whose signer the alert is read for: signed, changed after
# signing, and unsigned copies of the upload tool's stand-in.
"$root/scripts/make-signed.sh" "$root/build/win64/bin/VirusTotalUpload.exe" \
  "$WINEPREFIX/drive_c/signed"
export KW_SIGNED='C:\signed'

# Wine takes each process's code page from its locale, so both locales share
# the prefix and the wineserver. The one 64-bit driver drives either program.
e2e() {  # e2e BUILD LOCALE CODEPAGE
  LANG=$2 LC_ALL=$2 KW_CODE_PAGE=$3 KW_PROGRAM="$KW_WINE_ROOT/run/$1/Keywarden.exe" \
    KW_ARTIFACTS="$artifacts/$1-${2%%.*}" \
    "$KW_WINE" "$root/build/win64/bin/kw_e2e_tests.exe" --gtest_filter="${KW_E2E_FILTER:-*}"
}
for locale in zh_CN.UTF-8:936 en_US.UTF-8:1252; do
  for build in "${wine_builds[@]}"; do
    pass "end-to-end tests, $build, ${locale%:*}" e2e "$build" "${locale%:*}" "${locale#*:}"
  done
done

# The Windows Installer packages: installed silently, the installed program
# alerts and writes the Application log, removed silently, nothing left.
version=$(head -n 1 "$root/VERSION")
for arch in "${msi_archs[@]}"; do
  pass "installer package, $arch" "$root/scripts/msi-pass.sh" \
    "$root/dist/Keywarden-$version-$arch.msi" "$arch" "$root/build/win64/bin/kw_e2e_tests.exe"
done

for shot in "$artifacts"/*/*.bmp; do
  [ -e "$shot" ] && convert "$shot" "${shot%.bmp}.png" && rm "$shot"
done
echo "screenshots: $artifacts"
echo "== test run: $((SECONDS - started)) s"
kw_runs_32bit || echo "== $KW_NO_32BIT"
if [ "${#failed[@]}" -gt 0 ]; then
  printf '== FAILED: %s\n' "${failed[@]}"
  exit 1
fi
echo "== all passed"
