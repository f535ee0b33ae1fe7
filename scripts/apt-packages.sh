# Sourced by the install scripts: installs the Debian packages of a list that are missing.
# As root it runs apt-get (after adding a foreign architecture when one is named); otherwise it
# prints the commands to run and fails.

# 'install_missing_packages ARCH PACKAGE...' - ARCH is a dpkg architecture to add first, or "".
install_missing_packages() {
  local arch=$1 package prepare=
  shift
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0

  if [ -n "$arch" ] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    prepare="dpkg --add-architecture $arch && "
  fi
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages. Run as root:" >&2
    echo "  ${prepare}apt-get update && apt-get install -y ${missing[*]}" >&2
    return 1
  fi
  echo "Installing: ${missing[*]}"
  [ -z "$prepare" ] || dpkg --add-architecture "$arch"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
