#!/usr/bin/env bash
# Brings a fresh Debian machine everything the builds and tests need.
# Does nothing (and needs no network) when all of it is already there.
set -euo pipefail

packages=(
  cmake g++ make googletest
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine wine64 wine32:i386 xvfb xauth x11-utils xdotool imagemagick fonts-wqy-microhei locales python3
  zip unzip wixl msitools osslsigncode openssl
)

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  # 32-bit Wine runs the 32-bit program from the same 64-bit prefix.
  dpkg --print-foreign-architectures | grep -qx i386 || "${sudo_cmd[@]}" dpkg --add-architecture i386
  # Multiarch wants the amd64 and i386 copy of every library at one version.
  # The security suite's i386 index is often out of step with its amd64 one,
  # so this one install reads the release and its updates only.
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
  sources=$(mktemp -d)
  trap 'rm -rf "$sources"' EXIT
  cat >"$sources/debian.sources" <<EOF
Types: deb
URIs: http://deb.debian.org/debian
Suites: $codename $codename-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  apt_opts=(-o Dir::Etc::SourceParts="$sources" -o Dir::Etc::SourceList=/dev/null)
  "${sudo_cmd[@]}" apt-get "${apt_opts[@]}" update -q || echo "install-deps: some package indexes failed; going on" >&2
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get "${apt_opts[@]}" install -y -q \
    --no-install-recommends "${missing[@]}" || true
  for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      echo "install-deps: $p could not be installed" >&2
      exit 1
    fi
  done
fi

# Wine takes its ANSI code page from the locale: zh_CN.UTF-8 gives code page
# 936, en_US.UTF-8 gives 1252, a Western Windows.
for loc in zh_CN en_US; do
  if ! locale -a 2>/dev/null | grep -qi "^$loc\.utf-\?8$"; then
    echo "install-deps: generating $loc.UTF-8"
    "${sudo_cmd[@]}" sed -i "s/^# *\($loc.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^$loc.UTF-8 UTF-8" /etc/locale.gen || echo "$loc.UTF-8 UTF-8" | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
    "${sudo_cmd[@]}" locale-gen >/dev/null
  fi
done
