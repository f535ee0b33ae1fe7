#!/usr/bin/env bash
# make lint: the layout (.clang-format) of the C and C++ files of the plug-in, the services, the
# tools and the benchmarks, and the static checks (.clang-tidy) of the product code, on the compile
# commands of the build folder given (default build). Tests and fuzz targets keep the layout their
# authors give them: their tables are laid out as rows, a case to a line, which the formatter
# would split field by field (it added 190 lines to the service tests alone).
# A file that passed clang-tidy is not checked again until it, a header or .clang-tidy changes:
# the stamps live in <build>/lint-passed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

for tool in clang-format clang-tidy; do
  command -v "$tool" >/dev/null || { echo "lint: $tool is missing (scripts/install-deps.sh)" >&2; exit 2; }
done
[ -f "$build/compile_commands.json" ] || { echo "lint: configure $build first (make build)" >&2; exit 2; }

echo "== clang-format"
git ls-files -z '*.c' '*.cpp' '*.h' ':!tests' ':!fuzz' | xargs -0 clang-format --dry-run --Werror

echo "== clang-tidy"
stamps=$build/lint-passed
mkdir -p "$stamps"
context=$( (cat .clang-tidy; git ls-files -z '*.h' | xargs -0 cat) | sha1sum | cut -c1-40)
pending=()
for file in $(git ls-files 'activityReport/*.cpp' 'services/*.cpp' 'tools/*.cpp'); do
  key=$( (echo "$context"; cat "$file") | sha1sum | cut -c1-40)
  [ -e "$stamps/$key" ] || pending+=("$file")
done
[ ${#pending[@]} -eq 0 ] && { echo "nothing changed since the last clean check"; exit 0; }
printf '%s\n' "${pending[@]}" | xargs -P "$(nproc)" -n 1 sh -c '
  clang-tidy --quiet -p "$1" "$3" 2>/dev/null || exit 1
  touch "$1/lint-passed/$( (echo "$2"; cat "$3") | sha1sum | cut -c1-40)"' lint "$build" "$context" \
  || { echo "lint: clang-tidy found problems (above)" >&2; exit 1; }
echo "clang-tidy: ${#pending[@]} files clean"
