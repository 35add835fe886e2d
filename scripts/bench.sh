#!/usr/bin/env bash
# The benchmarks: they print figures and assert nothing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" native
"$root/scripts/build.sh" win64
echo "== snapshot and comparison (native, fake registry)"
"$root/build/native/bench/kw_snapshot_bench"
echo "== alert latency and idle cost (Wine)"
source "$root/scripts/wine-session.sh"
export KW_HEADLESS=1
kw_start_wine
cd "$root/build/win64/bin"
wine kw_alert_bench.exe
