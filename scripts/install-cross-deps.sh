#!/usr/bin/env bash
# Installs what a cross build for ARCH (armhf or arm64) needs, when any is missing: Debian's cross
# toolchain, qemu-user-static to run the target's programs without binfmt, and the target's -dev
# packages through multiarch. As root it runs dpkg and apt-get; otherwise it prints the commands
# (scripts/apt-packages.sh).
set -euo pipefail

arch=${1:?usage: $0 armhf|arm64}
case "$arch" in
  armhf | arm64) ;;
  *) echo "unsupported architecture: $arch (armhf or arm64)" >&2; exit 2 ;;
esac

packages=(
  "crossbuild-essential-$arch" qemu-user-static
  cmake ninja-build pkg-config sqlite3 ghostscript gettext
  "libsqlite3-dev:$arch" "libcups2-dev:$arch" "libuchardet-dev:$arch"
  "libgtest-dev:$arch" "libgmock-dev:$arch"
)

. "$(dirname "$0")/apt-packages.sh"
install_missing_packages "$arch" "${packages[@]}"
