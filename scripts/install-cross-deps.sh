#!/usr/bin/env bash
# Installs what a cross build for ARCH (armhf or arm64) needs, when any is missing: Debian's cross
# toolchain, qemu-user-static to run the target's programs without binfmt, and the target's -dev
# packages through multiarch. As root it runs dpkg and apt-get; otherwise it prints the commands.
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

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

add_arch=
dpkg --print-foreign-architectures | grep -qx "$arch" || add_arch="dpkg --add-architecture $arch && "
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Run as root:" >&2
  echo "  ${add_arch}apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
[ -z "$add_arch" ] || dpkg --add-architecture "$arch"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
