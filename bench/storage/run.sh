#!/bin/sh
# Builds the storage benchmark (Release) and runs it on a 1,000,000-record
# file log. Usage: bench/storage/run.sh [RECORDS] [WORKDIR]
# QZ_BENCH_VERIFY=1 also checks the result with tests/tools/xbase-dump (slow).
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
records=${1:-1000000}
work=${2:-$(mktemp -d "${TMPDIR:-/tmp}/qz-storage-bench.XXXXXX")}
build="$root/build/storage-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQZ_BUILD_APP=OFF >/dev/null
cmake --build "$build" --target storage_bench -j2 >/dev/null
"$build/bench/storage/storage_bench" "$work" "$records"
rm -rf "$work"
