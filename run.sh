#!/usr/bin/env bash
# Builds Tallyfold when needed and reports on a folder: ./run.sh /usr [options]
# The build holds every program and companion (tallyfold-config, the manual,
# the man page, the style sheet), so that -config, -help and -html find them.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$here/build/release"
stale() {
  [ ! -x "$build/tallyfold" ] ||
    [ -n "$(find "$here" -path "$here/build" -prune -o -newer "$build/tallyfold" \( -name '*.cpp' -o -name '*.h' \
      -o -name '*.in' -o -name '*.cmake' -o -name 'CMakeLists.txt' -o -path "$here/doc/*" \) -print -quit)" ]
}
if stale; then
  source "$here/cmake/install_packages.sh"
  install_packages build
  echo "Building Tallyfold in $build (the first build takes a while) ..." >&2
  cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release > /dev/null
  cmake --build "$build" -j "$(nproc)" > /dev/null
  touch "$build/tallyfold"
fi
exec "$build/tallyfold" "$@"
