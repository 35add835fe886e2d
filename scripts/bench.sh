#!/usr/bin/env bash
# The benchmarks: they print figures and assert nothing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" native
"$root/build/native/bench/kw_snapshot_bench"
