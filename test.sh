#!/usr/bin/env bash
# Installs what the tests need when it is missing, builds the Linux program
# and tallyfold.exe, and runs every test of both.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cd "$here"

wine=/usr/lib/wine/wine64
source cmake/install_packages.sh
install_packages build test

export WINEDEBUG=-all
jobs="$(nproc)"

echo "== Linux build"
cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=Release -DTALLYFOLD_TESTS=ON > /dev/null
cmake --build build/linux -j "$jobs"
echo "== tallyfold-mpi, which its tests run under mpirun"
cmake -S . -B build/linux -DTALLYFOLD_MPI=ON > /dev/null
cmake --build build/linux -j "$jobs" --target tallyfold-mpi

echo "== Windows build"
cmake -S . -B build/windows -DCMAKE_BUILD_TYPE=Release -DTALLYFOLD_TESTS=ON \
  -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" -DTALLYFOLD_WINE="$wine" > /dev/null
cmake --build build/windows -j "$jobs"

# One Wine server for all the tests, started here with its services: a
# server that a test program starts passes that program's output pipes on
# to the services it starts, and the test then waits for them to end. The
# first start also creates Wine's prefix.
wineserver=/usr/lib/wine/wineserver64
"$wineserver" -k 2> /dev/null || true
"$wine" cmd /c exit < /dev/null > /dev/null 2>&1 || true
"$wineserver" -w
"$wineserver" -p < /dev/null > /dev/null 2>&1
trap '"$wineserver" -k 2> /dev/null || true' EXIT
"$wine" cmd /c exit < /dev/null > /dev/null 2>&1 || true

echo "== Linux tests"
(cd build/linux && ctest --output-on-failure -j "$jobs")
echo "== Windows tests (under Wine)"
(cd build/windows && ctest --output-on-failure)
echo "== The default scan under Wine, run after run"
tests/wine_stress.py build/windows/tallyfold.exe 5

# Any sanitizer report ends the sanitized program with a failure, so the
# test that ran it fails.
echo "== Linux tests with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DTALLYFOLD_TESTS=ON -DTALLYFOLD_SANITIZE=address,undefined > /dev/null
cmake --build build/asan -j "$jobs"
(cd build/asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j "$jobs")

echo "== The scan with workers under ThreadSanitizer"
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DTALLYFOLD_TESTS=ON -DTALLYFOLD_SANITIZE=thread > /dev/null
cmake --build build/tsan -j "$jobs" --target unit_tests tallyfold
(cd build/tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -R 'unit_tests|parallel_scan')

echo "== Fuzzing, a few seconds a target"
tests/fuzz/run_fuzzers.sh build/fuzz

echo "== The benchmark, as a quick smoke run on a small tree"
bench/bench.py --quick --trees build/bench-trees
