#!/usr/bin/env bash
# Builds Tallyfold when needed and reports on a folder: ./run.sh /usr [options]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$here/build/release"
if [ ! -x "$build/tallyfold" ] || [ -n "$(find "$here" -path "$here/build" -prune -o -newer "$build/tallyfold" \( -name '*.cpp' -o -name '*.h' -o -name 'CMakeLists.txt' \) -print -quit)" ]; then
  cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTALLYFOLD_TESTS=OFF > /dev/null
  cmake --build "$build" --target tallyfold -j "$(nproc)" > /dev/null
fi
exec "$build/tallyfold" "$@"
