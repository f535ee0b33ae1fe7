#!/usr/bin/env bash
# Rehearses a device maker's build of the plug-in alone (ARL_PLUGIN_ONLY, cmake/DeviceSdk.cmake).
# A scratch SDK, SDK_BUILD/sdk, gets the stand-in services and the host program of BUILD as they
# install; the plug-in is built in SDK_BUILD against the SDK's libraries and headers and installed
# into the SDK beside them. The SDK's host program, with that plug-in, must then print the sample
# jobs byte for byte as BUILD's own does (scripts/cross-check.sh).
#   sdk-rehearsal.sh BUILD SDK_BUILD [CMAKE_OPTIONS...]   (make sdk calls it after the build)
set -euo pipefail

[ $# -ge 2 ] || { echo "usage: $0 BUILD SDK_BUILD [CMAKE_OPTIONS...]" >&2; exit 2; }
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$1 sdk_build=$2
shift 2
mkdir -p "$sdk_build"
sdk=$(cd "$sdk_build" && pwd)/sdk
# The SDK is laid out as BUILD installs: the same library and include folders.
cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
libdir=$(cached CMAKE_INSTALL_LIBDIR) includedir=$(cached CMAKE_INSTALL_INCLUDEDIR)

rm -rf "$sdk"
for component in services runtime; do
  cmake --install "$build" --prefix "$sdk" --component "$component" >/dev/null
done
cmake -S "$repo" -B "$sdk_build" -DARL_PLUGIN_ONLY=ON -DCMAKE_INSTALL_LIBDIR="$libdir" \
  -DARL_SDK_LIBRARY_DIR="$sdk/$libdir/activity-report/services" \
  -DARL_SDK_INCLUDE_DIR="$sdk/$includedir/activity-report" "$@"
cmake --build "$sdk_build"
cmake --install "$sdk_build" --prefix "$sdk" >/dev/null
"$repo/scripts/cross-check.sh" "$build" "$sdk"
