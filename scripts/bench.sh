#!/usr/bin/env bash
# The benchmarks: they print figures and assert nothing.
#   1. reading and comparing snapshots, natively on the fake registry;
#   2. under Wine, for the 64-bit and the 32-bit build side by side: the
#      time from one autostart write to the alert showing it, and from the
#      last write of a flood to the alert showing its last value, each beside
#      a minimal Win32 program of the same design (bench/minimal_alert.cpp),
#      and the single writes beside its lean build too, which sets each field once;
#   3. the CPU time of both builds while nothing changes;
#   4. the sizes of the two programs users get.
# KW_BENCH_FLOOD_DEADLINE (seconds, default 30) bounds the wait for a flood.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"

# Builds only what the benchmarks run once a build is configured.
build() {
  local name=$1
  shift
  if [ -f "$root/build/$name/CMakeCache.txt" ]; then
    cmake --build "$root/build/$name" -j"$(nproc)" --target "$@"
  else
    "$root/scripts/build.sh" "$name"
  fi
}
build native kw_snapshot_bench
build win64 Keywarden kw_alert_bench kw_minimal_alert kw_lean_alert
build win32 Keywarden kw_minimal_alert kw_lean_alert

# The programs as users get them.
"$root/scripts/package.sh" >/dev/null
program() { echo "$root/dist/win$1/Keywarden.exe"; }

echo "== snapshot and comparison (native, fake registry)"
"$root/build/native/bench/kw_snapshot_bench"

echo "== alert latency and flood drain (Wine), beside a minimal program of the same design"
source "$root/scripts/wine-session.sh"
export KW_HEADLESS=1
kw_start_wine
# One 64-bit driver drives either build; a 32-bit program runs in the same prefix.
results=$KW_WINE_ROOT/results
mkdir -p "$results"
touch "$results/win64" "$results/win32"
bench_bits=(64)
if kw_runs_32bit; then bench_bits+=(32); else echo "$KW_NO_32BIT"; fi
# The program writes every alert to the Application log as well, on a thread
# of its own; Wine's trace of each call (to a file) stands in for the log's
# own cost, which Wine's stub does not have.
for bits in "${bench_bits[@]}"; do
  if ! WINEDEBUG=-all,+eventlog "$KW_WINE" "$root/build/win64/bin/kw_alert_bench.exe" \
    "$(program "$bits")" "$root/build/win$bits/bin/kw_minimal_alert.exe" \
    "$root/build/win$bits/bin/kw_lean_alert.exe" \
    >"$results/win$bits" 2>"$results/win$bits.eventlog"; then
    echo "win$bits: the benchmark did not finish:"
    cat "$results/win$bits"
  fi
done
# Each figure is a line "what: value"; the two runs print the same lines.
awk -F': ' '
  { run = FILENAME == ARGV[1] ? 1 : 2 }
  /: / {
    what = $1; value = substr($0, length($1) + 3)
    if (!(what in seen)) { seen[what] = 1; order[++n] = what }
    figure[what, run] = value
    next
  }
  { notes[run] = notes[run] "  win" (run == 1 ? 64 : 32) ": " $0 "\n" }
  END {
    printf "%-50s %-42s %s\n", "", "win64", "win32"
    for (i = 1; i <= n; i++) {
      what = order[i]
      if (figure[what, 1] ~ /\\/ || figure[what, 2] ~ /\\/) continue  # the lines naming the programs
      printf "%-50s %-42s %s\n", what, figure[what, 1], figure[what, 2]
    }
    printf "%s%s", notes[1], notes[2]
  }' "$results/win64" "$results/win32"
echo "Keywarden driven: $(program 64 | sed "s|^$root/||;s|64|NN|")"
for bits in "${bench_bits[@]}"; do
  echo "event log on during the runs above (win$bits): $(grep -c 'ReportEventW L' "$results/win$bits.eventlog") strings written"
done

# CPU time of a process from the kernel's count, in milliseconds: under Wine,
# GetProcessTimes misses most of it.
cpu_ms() {
  cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ ns += $1 } END { printf "%.1f", ns / 1e6 }'
}
# Threads and private memory of the Unix process that runs a program (Wine's
# own threads included, for both programs alike).
threads() { ls /proc/"$1"/task 2>/dev/null | wc -l; }
private_kb() {
  awk '/^Private_(Clean|Dirty):/ { kb += $2 } END { print kb + 0 }' /proc/"$1"/smaps_rollup 2>/dev/null
}
echo "== idle cost (Wine): over 30 quiet seconds, from the kernel, beside the minimal program"
idle="$results/idle"
: >"$idle"
echo "watched: $("$root/build/native/bench/kw_snapshot_bench" --locations)"
# One program after the other: a second copy in the same session ends at once.
for bits in "${bench_bits[@]}"; do
  # The loader of the program's own bitness and a Windows path, so that the
  # program runs in the process started here rather than in a child of start.exe.
  loader=/usr/lib/wine/wine$([ "$bits" = 64 ] && echo 64 || true)
  [ -x "$loader" ] || loader=wine
  for which in Keywarden minimal; do
    # A start without what the runs above left: the changes of their floods,
    # which a guard shows again at its next start.
    rm -f "$WINEPREFIX"/drive_c/ProgramData/Keywarden/*/Keywarden.{state,pending,key}
    path=$(program "$bits")
    [ "$which" = minimal ] && path=$root/build/win$bits/bin/kw_minimal_alert.exe
    "$loader" "Z:${path//\//\\}" >/dev/null 2>&1 &
    pid=$!
    sleep 5 # start-up and first snapshots
    before=$(cpu_ms "$pid")
    sleep 30
    if [ ! -d /proc/"$pid" ]; then
      echo "win$bits $which did not stay up"
      continue
    fi
    awk -v what="win$bits $which" -v a="$(cpu_ms "$pid")" -v b="$before" \
      -v t="$(threads "$pid")" -v kb="$(private_kb "$pid")" \
      'BEGIN { printf "%-20s CPU %.1f ms, %d threads, %.1f MB private\n", what, a - b, t, kb / 1024 }'
    echo "$bits $which $(threads "$pid") $(private_kb "$pid")" >>"$idle"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
done

echo "== program sizes (packaged)"
largest=0
for bits in 64 32; do
  file=$(program "$bits")
  if [ -f "$file" ]; then
    bytes=$(stat -c %s "$file")
    [ "$bytes" -gt "$largest" ] && largest=$bytes
    awk -v bits="$bits" -v file="${file#"$root"/}" -v bytes="$bytes" \
      'BEGIN { printf "win%s %-36s %9d bytes (%.2f MB)\n", bits, file, bytes, bytes / 1048576 }'
  else
    echo "win$bits ${file#"$root"/}: missing"
  fi
done

# The idle figures of the build that fares worse, each on a line of its own.
awk '$2 == "Keywarden" { kb[$1] = $4; if ($3 > threads) threads = $3 }
     $2 == "minimal" { minimal[$1] = $4 }
     END { printf "threads at idle: %d\n", threads
           for (bits in kb) if (minimal[bits] > 0 && kb[bits] / minimal[bits] > worst) worst = kb[bits] / minimal[bits]
           printf "private memory / minimal program: %.2f\n", worst }' "$idle"
echo "largest packaged program: $largest bytes"

# Last, the two ratios against the minimal program, of the build that fares worse.
echo "== ratios to the minimal program (the higher of win64 and win32)"
for what in "alert latency / minimal program" "alert latency / lean program" \
  "flood drain / minimal program"; do
  grep -h "^$what: " "$results/win64" "$results/win32" |
    awk -F': ' -v what="$what" '$2 + 0 > worst { worst = $2 + 0 } END { printf "%s: %.2f\n", what, worst }'
done
