#!/usr/bin/env bash
# Installs everything the build, the tests and the tools need, from Debian's
# packages. Safe to run again: it does nothing when all is in place.
#
# yyjson is packaged by Debian from trixie on. On bookworm its two packages
# are fetched from trixie with a private apt state (the machine's sources are
# left alone) and installed with dpkg; they depend on libc6 only.
set -euo pipefail

packages=(build-essential cmake ninja-build pkg-config googletest libgtest-dev
          clang libclang-rt-14-dev python3 jq
          python3-dev python3-venv python3-setuptools python3-wheel libuchardet-dev
          python3-setuptools-whl python3-wheel-whl)
yyjson_packages=(libyyjson0 libyyjson-dev)
# TypeScript checks the JavaScript packages' type declarations. Debian's
# depends on a nodejs package: only where node came as one (Debian's or
# NodeSource's), so that no other node is installed beside the machine's.
if dpkg-query -W -f='${Status}' nodejs 2>/dev/null | grep -q 'install ok installed'; then
  packages+=(node-typescript)
fi

missing=()
for p in "${packages[@]}" "${yyjson_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${missing[*]}; run this script as root" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null

if apt-cache show libyyjson-dev >/dev/null 2>&1; then
  apt-get install -y -qq --no-install-recommends "${yyjson_packages[@]}" >/dev/null
  exit 0
fi

# The mirror this machine already uses for its own release.
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
mirror=$(apt-get indextargets --format '$(REPO_URI) $(CODENAME)' 2>/dev/null |
         awk -v c="$codename" '$2 == c { print $1; exit }')
if [ -z "$mirror" ]; then
  mirror=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
           awk '/^URIs:/ && $2 !~ /security/ { print $2; exit }')
fi
if [ -z "$mirror" ]; then
  mirror=$(grep -h -E '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
           grep -v security | sed -E 's/^deb (\[[^]]*\] )?//' | awk '{ print $1; exit }')
fi
if [ -z "$mirror" ]; then
  echo "setup: no Debian mirror found in the apt configuration" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/archives/partial"
echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] ${mirror%/} trixie main" >"$work/sources.list"
apt_private=(-o "Dir::Etc::SourceList=$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
             -o "Dir::State::Lists=$work/lists" -o "Dir::Cache::Archives=$work/archives"
             -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache= -o APT::Sandbox::User=root)
apt-get "${apt_private[@]}" update -qq
(cd "$work" && apt-get "${apt_private[@]}" download "${yyjson_packages[@]}" >/dev/null)
dpkg -i "$work"/libyyjson*.deb >/dev/null
echo "setup: installed yyjson from trixie"
