#!/usr/bin/env bash
# The release packages, as users get them: both programs built in Release,
# stripped, each zipped with the user's readme, and the archives' checksums.
#   dist/Keywarden-VERSION-win32.zip, dist/Keywarden-VERSION-win64.zip,
#   dist/Keywarden-VERSION-x86.msi, dist/Keywarden-VERSION-x64.msi (Windows
#   Installer packages for software distribution, from packaging/Keywarden.wxs),
#   dist/SHA256SUMS, and the unpacked programs dist/win32|win64/Keywarden.exe.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
version=$(head -n 1 "$root/VERSION")
dist="$root/dist"
rm -rf "$dist"
mkdir -p "$dist"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

for build in win32 win64; do
  case "$build" in
    win32) triple=i686-w64-mingw32 ;;
    win64) triple=x86_64-w64-mingw32 ;;
  esac
  "$root/scripts/build.sh" "$build" Keywarden
  mkdir -p "$dist/$build" "$stage/$build"
  "$triple-strip" -o "$dist/$build/Keywarden.exe" "$root/build/$build/bin/Keywarden.exe"
  cp "$dist/$build/Keywarden.exe" "$stage/$build/"
  # Notepad reads the readme: CRLF lines, and a byte order mark for its Chinese half.
  { printf '\xef\xbb\xbf'
    sed -e "s/@VERSION@/$version/; s/@ARCH@/${build#win}-bit/" -e 's/$/\r/' "$root/app/ReadMe.txt"
  } >"$stage/$build/ReadMe.txt"
  touch -d "@$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)" "$stage/$build"/*
  (cd "$stage/$build" && zip -q -X "$dist/Keywarden-$version-$build.zip" Keywarden.exe ReadMe.txt)
  # wixl finds the files relative to the folder it runs in.
  arch=$([ "$build" = win64 ] && echo x64 || echo x86)
  (cd "$stage/$build" && wixl -a "$arch" -D Arch="$arch" -D Version="$version" \
    -D ProgramFile=Keywarden.exe -D ReadMeFile=ReadMe.txt \
    -o "$dist/Keywarden-$version-$arch.msi" "$root/packaging/Keywarden.wxs")
done
(cd "$dist" && sha256sum "Keywarden-$version-win32.zip" "Keywarden-$version-win64.zip" \
  "Keywarden-$version-x86.msi" "Keywarden-$version-x64.msi" >SHA256SUMS)
echo "packages in $dist:"
(cd "$dist" && ls -l Keywarden-*.zip Keywarden-*.msi win32/Keywarden.exe win64/Keywarden.exe | awk '{print "  " $5 "  " $NF}')
