#!/usr/bin/env bash
# Compares two cubewright builds side by side: for each direction of
# conversion, both are timed in turns in one run of measure_runs (round after
# round, each command once per round, so that a busy machine slows them
# alike), after a check that they write the same bytes.
#
#   bench/compare.sh OLD NEW [SIDE...]     cells a side, 128 and 256 unless given
#
# OLD and NEW are cubewright executables: an earlier commit's build, or this
# tree built with a speed trick turned off. With OLD_IN_TURN and NEW_IN_TURN
# (each build's bench/cubewright_in_turn), the run without a second thread is
# compared too. Times are the median wall time of
# RUNS runs (7 by default); memory is the peak resident size of any run. A
# row whose NEW time is more than 10 % over OLD's says so; the script fails
# only when the two builds disagree on a byte. ONLY=KEY times one direction
# (csv, in_turn, back, vox or preview).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 2 ]; then
  sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
old=$(realpath "$1")
new=$(realpath "$2")
shift 2
sides=("$@")
if [ ${#sides[@]} -eq 0 ]; then sides=(128 256); fi
runs=${RUNS:-7}

cmake --preset bench >/dev/null
cmake --build --preset bench --target generate_model measure_runs -- -j2 >/dev/null
build=build/bench
work=$build/compare
mkdir -p "$work"

for side in "${sides[@]}"; do
  csv=$work/model-$side.csv
  doc=$work/model-$side.xml
  vox=$work/model-$side.vox
  "$build/bench/generate_model" "$side" "$csv"
  "$old" "$csv" "$doc"
  "$old" --to vox "$doc" "$vox" 2>/dev/null
  # key, label, then the arguments after the program; OUT stands for the output.
  directions=(
    "csv|CSV -> document|$csv OUT.xml"
    "in_turn|CSV -> document, in turn|$csv OUT.xml"
    "back|document -> CSV (--to csv)|--to csv $doc OUT.csv"
    "vox|.vox -> document|$vox OUT.xml"
    "preview|CSV -> document with --preview|--preview OUT.png $csv OUT.xml"
  )
  if [ -z "${OLD_IN_TURN:-}" ] || [ -z "${NEW_IN_TURN:-}" ]; then
    directions=("${directions[0]}" "${directions[@]:2}")
  fi
  if [ -n "${ONLY:-}" ]; then
    mapfile -t directions < <(printf '%s\n' "${directions[@]}" | grep "^$ONLY|")
  fi
  timed=()
  for entry in "${directions[@]}"; do
    IFS='|' read -r key _ arguments <<<"$entry"
    old_program=$old
    new_program=$new
    if [ "$key" = in_turn ]; then
      old_program=$(realpath "$OLD_IN_TURN")
      new_program=$(realpath "$NEW_IN_TURN")
    fi
    # Both write the same paths, which the picture's title names: the old
    # build's outputs are kept aside to be compared with the new one's.
    out=$work/out-$key
    # shellcheck disable=SC2086 # the arguments are words without blanks
    set -- ${arguments//OUT/$out}
    removes=()
    for word in "$@"; do
      case $word in "$out".*) removes+=("--remove=$word") ;; esac
    done
    rm -f "$out".* "$work/kept-$key".*
    "$old_program" "$@" >/dev/null 2>&1
    for made in "$out".*; do mv "$made" "$work/kept-$key.${made##*.}"; done
    "$new_program" "$@" >/dev/null 2>&1
    for made in "$work/kept-$key".*; do
      if ! cmp -s "$made" "$out.${made##*.}"; then
        echo "compare: the two builds disagree on ${made##*/} at $side cells a side" >&2
        exit 1
      fi
    done
    [ ${#timed[@]} -ne 0 ] && timed+=(--)
    timed+=("${removes[@]}" "$old_program" "$@" -- "${removes[@]}" "$new_program" "$@")
  done
  mapfile -t results < <("$build/bench/measure_runs" "$runs" "${timed[@]}" 2>"$work/stderr")
  rm -f "$work"/out-* "$work"/kept-*

  echo
  echo "Model: $side x $side x $side cells. Median wall time of $runs runs taken in turns."
  echo
  printf '| %-32s | %9s | %9s | %7s | %9s | %9s | %-14s |\n' direction "old (ms)" "new (ms)" \
    new/old "old (MiB)" "new (MiB)" ""
  printf '|%s|%s:|%s:|%s:|%s:|%s:|%s|\n' "----------------------------------" "-----------" \
    "-----------" "---------" "-----------" "-----------" "----------------"
  i=0
  for entry in "${directions[@]}"; do
    IFS='|' read -r _ label _ <<<"$entry"
    read -r old_s old_kib <<<"${results[$i]}"
    read -r new_s new_kib <<<"${results[$((i + 1))]}"
    i=$((i + 2))
    awk -v label="$label" -v a="$old_s" -v b="$new_s" -v ma="$old_kib" -v mb="$new_kib" 'BEGIN {
      ratio = b / a
      printf "| %-32s | %9.1f | %9.1f | %6.2fx | %9.1f | %9.1f | %-14s |\n", label, a * 1000, \
        b * 1000, ratio, ma / 1024, mb / 1024, (ratio > 1.10 ? "over 10 %" : "")
    }'
  done
done
