#!/usr/bin/env bash
# Start-up of the window with 10,000 extract files and a file log of
# 1,000,000 records, against the baseline of listing that folder plus
# 10,000 file-log seeks, side by side with hyperfine.
#   bench/app/run.sh [WORKDIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=${QZ_BUILD_DIR:-$root/build/bench}
work=${1:-$root/build/bench-app-data}

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target qz_bench_startup qeladmin >/dev/null
bench=$build/bench/app/qz_bench_startup

export QT_QPA_PLATFORM=offscreen
echo "preparing $work (once)"
"$bench" prepare "$work"
# The file-log index is looked for in the program folder, so it survives runs.
hyperfine -N --warmup 2 --runs 15 --export-json "$work/startup.json" \
  -n window "$bench window $work" \
  -n baseline "$bench baseline $work"
python3 - "$work/startup.json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
w, b = r["window"]["median"], r["baseline"]["median"]
print(f"median: window {w*1000:.0f} ms, baseline {b*1000:.0f} ms, ratio {w/b:.2f}")
print("limits: window <= 1000 ms and ratio <= 3.00:", "met" if w <= 1.0 and w / b <= 3.0 else "NOT met")
PY
