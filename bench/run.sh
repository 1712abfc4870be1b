#!/usr/bin/env bash
# Builds and runs every benchmark of the project under Wine (each in a fresh prefix, through
# cmake/wine-run.sh) and writes their figures, each next to its baseline measured in the same
# run, as a markdown table to bench/results.md; prints the table too.
#   bash bench/run.sh [bench[:args] ...]   default: every bench with its full sizes
# Each bench prints its figures as lines "ROW|<what>|<figure>|<baseline>|<ratio or note>".
# The benches run in the i686 build (32-bit Office) where the kernel runs 32-bit programs, with
# soak_bench in the x86_64 build too; where it runs none (cmake/wine-env.sh), every bench runs in
# the x86_64 build (64-bit Office), and results.md says so.
#   BUILD_DIR        the build tree the benches run in (default build/ for i686, build64/ for
#                    x86_64; configured as scripts/test.sh does)
#   QVR_BENCH_OUT    where the table goes (default bench/results.md)
#   QVR_BENCH_NOBUILD=1  use the build tree as it is (the CTest smoke entry does)
#   QVR_BENCH_LOGS   folder for each bench's full output (default <build>/bench-logs)
#   BUILD64_DIR      the x86_64 build tree, where soak_bench runs too (default build64/)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
source "$root/cmake/wine-env.sh"
if [ "$QVR_NATIVE32" = 1 ]; then
  toolchain=i686 default_build=build
else
  toolchain=x86_64 default_build=build64
fi

# Windows the add-in makes need a display; one virtual display for the whole run.
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null 2>&1 && [ -z "${QVR_BENCH_XVFB:-}" ]; then
  QVR_BENCH_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi

build="${BUILD_DIR:-$default_build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
out="${QVR_BENCH_OUT:-$root/bench/results.md}"
benches=("$@")
if [ ${#benches[@]} -eq 0 ]; then
  benches=(addin_bench markup_bench excel_events_bench ribbon_bench soak_bench)
fi

if [ -z "${QVR_BENCH_NOBUILD:-}" ]; then
  echo "== building in $build" >&2
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$toolchain.cmake -DQVR_BUILD_TESTS=ON >/dev/null
  targets=(VORTELIXExcel)
  for b in "${benches[@]}"; do targets+=("${b%%:*}"); done
  cmake --build "$build" -j2 --target "${targets[@]}" >&2
fi

# The machine's load, for the reader to judge the figures by: the other work running beside the
# benches slows the add-in and its baselines alike, but not always evenly.
load_before=$(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo unknown)

logs="${QVR_BENCH_LOGS:-$build/bench-logs}"
mkdir -p "$logs"
rows="$logs/rows.txt"
: >"$rows"
failed=()

# run_bench <name in the table> <label> <program> <log> [args...]: runs one bench and adds its rows.
run_bench() {
  local name="$1" label="$2" program="$3" log="$4"
  shift 4
  echo "== running $label $*" >&2
  if ! "$root/cmake/wine-run.sh" "$program" "$@" >"$log" 2>&1; then
    failed+=("$label")
    echo "== $label failed; its output:" >&2
    cat "$log" >&2
  fi
  local found line
  found=$(tr -d '\r' <"$log" | grep '^ROW|' || true)
  if [ -z "$found" ]; then
    failed+=("$label (no figures)")
  else
    while IFS= read -r line; do printf '%s|%s\n' "$name" "${line#ROW|}" >>"$rows"; done <<<"$found"
  fi
}

for item in "${benches[@]}"; do
  name="${item%%:*}"
  args=()
  if [ "$item" != "$name" ]; then read -r -a args <<<"${item#*:}"; fi
  run_bench "$name" "$name" "$build/bin/$name.exe" "$logs/$name.log" "${args[@]}"
done

# The soak bench runs in the 64-bit build as well (the 64-bit add-in for 64-bit Office): its rows
# join the table next to the i686 ones, each saying its bitness.
for item in "${benches[@]}"; do
  [ "${item%%:*}" = soak_bench ] && [ "$toolchain" = i686 ] || continue
  args=()
  if [ "$item" != soak_bench ]; then read -r -a args <<<"${item#*:}"; fi
  build64="${BUILD64_DIR:-build64}"
  case "$build64" in /*) ;; *) build64="$root/$build64" ;; esac
  if [ -z "${QVR_BENCH_NOBUILD:-}" ]; then
    echo "== building soak_bench in $build64" >&2
    cmake -S . -B "$build64" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64.cmake -DQVR_BUILD_TESTS=ON >/dev/null
    cmake --build "$build64" -j2 --target soak_bench >&2
  fi
  run_bench soak_bench "soak_bench (x86_64)" "$build64/bin/soak_bench.exe" "$logs/soak_bench-x86_64.log" "${args[@]}"
done

# Where the DLL's bytes go, from its link map: sections, then each library and source file.
if [ -f "$build/bin/VORTELIXExcel.map" ]; then
  python3 "$root/bench/map_sizes.py" "$build/bin/VORTELIXExcel.map" >"$logs/dll-sizes.txt" 2>&1 ||
    failed+=("dll size report")
fi

load_after=$(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo unknown)
{
  echo "# Benchmark results"
  echo
  if [ "$toolchain" = i686 ]; then
    bitness="i686 build (32-bit Office)"
  else
    bitness="x86_64 build (64-bit Office; this machine's kernel runs no 32-bit programs, so the i686 build was not measured)"
  fi
  echo "\`bash bench/run.sh\`, $(date -u '+%Y-%m-%d %H:%M UTC'), $bitness under $(qvr_wine_version 2>/dev/null || echo Wine)," \
    "$(nproc) cores. Each figure's baseline was measured in the same run; full output in \`${logs#$root/}/\`." \
    "Load average (1, 5, 15 minutes) when the benches started: $load_before; when they ended: $load_after."
  echo
  echo "| Bench | Measure | Figure | Baseline (same run) | Ratio / note |"
  echo "|---|---|---|---|---|"
  while IFS='|' read -r bench what figure baseline note; do
    printf '| %s | %s | %s | %s | %s |\n' "$bench" "$what" "$figure" "$baseline" "$note"
  done <"$rows"
  if [ ${#failed[@]} -gt 0 ]; then
    echo
    printf 'FAILED: %s\n' "${failed[@]}"
  fi
} >"$out"
cat "$out"
[ ${#failed[@]} -eq 0 ]
