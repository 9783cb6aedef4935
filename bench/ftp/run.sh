#!/usr/bin/env bash
# Builds the FTP upload benchmark optimised and runs it: 1 GiB to a local
# vsftpd with our client and with curl, turn about. Extra arguments go to the
# benchmark (--size-mib N, --rounds N, --file PATH).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build/bench-ftp
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQZ_BUILD_APP=OFF >/dev/null
cmake --build "$build" --target ftp_upload_bench
exec "$build/bench/ftp/ftp_upload_bench" "$@"
