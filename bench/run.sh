#!/usr/bin/env bash
# Builds cubewright and its benchmarks in Release (build/bench), generates the
# benchmark model, checks that cubewright and the plain baseline write the
# same bytes, and prints a side-by-side table: cubewright, the plain baseline
# and the I/O floor (reading the CSV to nowhere and copying the finished XML
# with cat), median wall time over RUNS runs taken in turns, and peak memory.
# For the model of 128 cells a side it says whether the targets are met:
# at most 2x the I/O floor, at least 20x faster than the plain baseline, and
# at most 8 MiB of memory beyond the input's size.
#
#   bench/run.sh [SIDE...]     cells a side, 128 unless given; RUNS=7 by default
#
# With more than one side it ends with a table of how cost grows with size.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-7}
sides=("$@")
if [ ${#sides[@]} -eq 0 ]; then sides=(128); fi

cmake --preset bench >/dev/null
cmake --build --preset bench -- -j2 >/dev/null

build=build/bench
work=$build/models
mkdir -p "$work"

mib() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }

scaling=()
for side in "${sides[@]}"; do
  csv=$work/model-$side.csv
  "$build/bench/generate_model" "$side" "$csv"
  "$build/cubewright" "$csv" "$work/cubewright-$side.xml"
  "$build/bench/plain_convert" "$csv" "$work/plain-$side.xml"
  if ! cmp -s "$work/cubewright-$side.xml" "$work/plain-$side.xml"; then
    echo "bench: cubewright and the plain baseline disagree on $csv" >&2
    exit 1
  fi
  csv_bytes=$(wc -c <"$csv")
  xml_bytes=$(wc -c <"$work/cubewright-$side.xml")
  voxels=$(($(wc -l <"$work/cubewright-$side.xml") - 6))

  # One line each: median seconds, peak KiB. Every run writes a new file.
  mapfile -t results < <("$build/bench/measure_runs" "$runs" \
    --remove="$work/timed-cubewright.xml" \
    "$build/cubewright" "$csv" "$work/timed-cubewright.xml" -- \
    --remove="$work/timed-plain.xml" \
    "$build/bench/plain_convert" "$csv" "$work/timed-plain.xml" -- \
    --remove="$work/timed-floor.xml" \
    sh -c 'cat "$1" >/dev/null && cat "$2" >"$3"' floor \
    "$csv" "$work/cubewright-$side.xml" "$work/timed-floor.xml")

  echo
  echo "Model: $side x $side x $side cells, $voxels filled;" \
    "CSV $csv_bytes bytes ($(mib "$csv_bytes") MiB), XML $xml_bytes bytes ($(mib "$xml_bytes") MiB)."
  echo "Median wall time of $runs runs taken in turns; peak resident memory of any run."
  echo
  # The targets are set for the model of 128 cells a side.
  awk -v csv="$csv_bytes" -v judge=$((side == 128)) '
    function verdict(met, target) {
      if (!judge) return ""
      return " (target " target ": " (met ? "met" : "MISSED") ")"
    }
    { t[NR] = $1 * 1000; m[NR] = $2 / 1024 }
    END {
      input = csv / 1048576
      row = "| %-36s | %9s | %12s | %17s |\n"
      printf row, "", "time (ms)", "vs I/O floor", "peak memory (MiB)"
      printf "|%s|%s:|%s:|%s:|\n", "--------------------------------------", "----------", \
        "-------------", "------------------"
      row = "| %-36s | %9.1f | %11.2fx | %17.1f |\n"
      printf row, "cubewright", t[1], t[1] / t[3], m[1]
      printf row, "plain baseline (bench/plain_convert)", t[2], t[2] / t[3], m[2]
      printf row, "I/O floor (cat CSV, cat XML)", t[3], 1, m[3]
      printf "\n"
      floor_ratio = t[1] / t[3]
      speedup = t[2] / t[1]
      over = m[1] - input
      printf "cubewright takes %.2fx the I/O floor%s.\n", floor_ratio, \
        verdict(floor_ratio <= 2.0, "at most 2.0x")
      printf "cubewright is %.1fx faster than the plain baseline%s.\n", speedup, \
        verdict(speedup >= 20, "at least 20x")
      printf "cubewright peaks at %.1f MiB: the input, %.1f MiB, %+.1f MiB%s.\n", m[1], input, \
        over, verdict(over <= 8, "at most + 8 MiB")
    }' < <(printf '%s\n' "${results[@]}")
  read -r seconds kib <<<"${results[0]}"
  read -r plain_seconds _ <<<"${results[1]}"
  read -r floor_seconds _ <<<"${results[2]}"
  scaling+=("$side $csv_bytes $xml_bytes $seconds $kib $floor_seconds $plain_seconds")
done

if [ ${#sides[@]} -gt 1 ]; then
  echo
  echo "How cubewright's cost grows with the model (memory: peak, and beyond the input):"
  echo
  printf '%s\n' "${scaling[@]}" | awk '
    BEGIN {
      printf "| %4s | %9s | %9s | %9s | %10s | %10s | %12s | %13s |\n", "side", "CSV (MiB)", \
        "XML (MiB)", "time (ms)", "floor (ms)", "vs floor", "plain (ms)", "memory (MiB)"
      printf "|-----:|----------:|----------:|----------:|-----------:|-----------:|" \
        "-------------:|--------------:|\n"
    }
    {
      csv = $2 / 1048576; ms = $4 * 1000; peak = $5 / 1024
      printf "| %4d | %9.1f | %9.1f | %9.1f | %10.1f | %9.2fx | %12.1f | %6.1f (%+4.1f) |\n", $1, \
        csv, $3 / 1048576, ms, $6 * 1000, $4 / $6, $7 * 1000, peak, peak - csv
    }'
fi
