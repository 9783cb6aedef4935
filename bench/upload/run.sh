#!/usr/bin/env bash
# The whole upload run through the window (100 files of 1 MiB) against curl
# sending the same files in one invocation, on a local vsftpd. Extra
# arguments go to the benchmark (--files N, --size-kib N, --rounds N, --dir DIR).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${QZ_BUILD_DIR:-build/bench}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target qz_bench_upload >/dev/null
export QT_QPA_PLATFORM=offscreen
exec "$build/bench/upload/qz_bench_upload" "$@"
