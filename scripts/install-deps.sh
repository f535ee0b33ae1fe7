#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the demo need, when any is missing.
# As root it runs apt-get; otherwise it prints the command to run and fails.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libsqlite3-dev sqlite3          # job tracker stand-in, sample database
  gettext                         # msgfmt --check of the translation catalogues
  libuchardet-dev                 # encoding sniffer
  libcups2-dev cups cups-client   # print submission, and the CUPS server the tests print to
  ghostscript                     # rendering the report into PDF and PNG, and checking it
  libgtest-dev libgmock-dev libbenchmark-dev
  sed                             # the benchmark compares the stream editor with GNU sed
  clang libclang-rt-14-dev        # fuzz targets: clang with the libFuzzer and sanitizer runtimes
  dpkg-dev file                   # make package: dpkg-shlibdeps finds the packages' dependencies
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Run as root:" >&2
  echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
