#!/bin/sh
# Builds the table-layer benchmarks (Release) and runs IndexFiles on a
# 1,000,000-record file log side by side with `LC_ALL=C sort` of the same keys.
# Usage: bench/data/run.sh [RECORDS] [ROUNDS] [WORKDIR]
# QZ_BENCH_VERIFY=1 also checks the built tag with tests/tools/xbase-dump.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
records=${1:-1000000}
rounds=${2:-3}
work=${3:-$(mktemp -d "${TMPDIR:-/tmp}/qz-indexfiles-bench.XXXXXX")}
build="$root/build/data-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQZ_BUILD_APP=OFF >/dev/null
cmake --build "$build" --target bench_data_index_files -j2 >/dev/null
"$build/bench/data/bench_data_index_files" "$records" "$rounds" "$work"
rm -rf "$work"
