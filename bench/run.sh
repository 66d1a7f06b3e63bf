#!/usr/bin/env bash
# Builds cubewright and its benchmarks in Release (build/bench), generates the
# benchmark model, checks that cubewright (with and without its writing
# thread) and the plain baseline write the same bytes, and prints one table
# row per direction of conversion, each beside its own I/O floor: reading
# the input with cat and copying the finished output to a new file with cat.
#
#   CSV -> document                  the default build, writing on a thread
#   CSV -> document, in turn         the same without the writing thread
#   document -> CSV                  --to csv of the model's document
#   .vox -> document                 the .vox that --to vox makes of it
#   CSV -> document with --preview   the document and its picture
#   plain baseline                   bench/plain_convert, against the first
#                                    row's floor
#
# and, once after the sides, two rows of .vox scenes (bench/generate_scene):
#
#   sparse .vox scene -> document    64 models of 16^3, full, spread over a
#                                    cube of 4,096 cells a side (2^36 cells)
#   rotated .vox scene -> document   64 models of 64^3, a quarter filled, side
#                                    by side in 8 x 8, each turned by one of
#                                    the 24 rotations
#
# A direction whose command fails (a build without it) shows "n/a" and says
# why below the table; only a disagreement between cubewright and the plain
# baseline fails the script. Times are the median wall time over RUNS runs
# (7 by default) taken in turns, the plain baseline over PLAIN_RUNS (3) runs
# of its own; memory is the peak resident size of any run. Each target is
# judged at the sizes where it is set; at the others its row shows the same
# times and ratios without a verdict:
#
#   CSV -> document                  at most 1.2x its floor at every size
#                                    (the process start dominates below 64
#                                    cells a side); peak memory at most the
#                                    input + 8 MiB
#   document -> CSV                  at 128 cells a side, at most 2x its
#                                    floor; peak memory at most the input
#                                    + 16 MiB + 4 bytes a cell at every size
#   .vox -> document                 at 256 cells a side, at most 1.5x the
#                                    CSV -> document time
#   with --preview                   at 128 cells a side, at most 2x the
#                                    CSV -> document time
#   plain baseline                   at 128 cells a side, cubewright at least
#                                    20x faster
#   sparse .vox scene -> document    peak memory at most the input + 16 MiB
#   rotated .vox scene -> document   at most 2x its floor
#
#   bench/run.sh [SIDE...]     cells a side, 128 unless given
#
# With more than one side it ends with a table of how each direction grows.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-7}
plain_runs=${PLAIN_RUNS:-3}
if [ "$plain_runs" -gt "$runs" ]; then plain_runs=$runs; fi
sides=("$@")
if [ ${#sides[@]} -eq 0 ]; then sides=(128); fi

cmake --preset bench >/dev/null
cmake --build --preset bench -- -j2 >/dev/null

build=build/bench
work=$build/models
mkdir -p "$work"
cubewright=$build/cubewright
in_turn=$build/bench/cubewright_in_turn

mib() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }

# The floor of a direction: cat INPUT to nowhere, then each finished output
# to a new file, as pairs FINISHED NEW.
floor_command=(sh -c 'cat "$1" >/dev/null || exit 1; shift
  while [ $# -gt 1 ]; do cat "$1" >"$2" || exit 1; shift 2; done' floor)

# Runs a direction once to make its output, FILE; when the command fails or
# leaves no FILE, records why and returns 1. NAME names the direction.
#   try_direction NAME FILE COMMAND...
notes=()
try_direction() {
  local name=$1 made=$2
  shift 2
  rm -f "$made"
  if "$@" >/dev/null 2>"$work/why" && [ -s "$made" ]; then return 0; fi
  if [ ! -s "$work/why" ]; then echo "it made no ${made##*/}" >"$work/why"; fi
  notes+=("$name: n/a, \`${*/#$build\//}\` failed: $(head -n 1 "$work/why")")
  return 1
}

# Adds a command to those timed in turns: its key, then what measure_runs
# takes for it.
add() {
  if [ ${#keys[@]} -ne 0 ]; then timed+=(--); fi
  keys+=("$1")
  shift
  timed+=("$@")
}

# One line per side and direction for the table of growth:
# "side key milliseconds floor_milliseconds".
growth=()

for side in "${sides[@]}"; do
  notes=()
  csv=$work/model-$side.csv
  doc=$work/cubewright-$side.xml
  "$build/bench/generate_model" "$side" "$csv"
  "$cubewright" "$csv" "$doc"
  "$in_turn" "$csv" "$work/in-turn-$side.xml"
  "$build/bench/plain_convert" "$csv" "$work/plain-$side.xml"
  for other in plain in-turn; do
    if ! cmp -s "$doc" "$work/$other-$side.xml"; then
      echo "bench: cubewright and the $other run disagree on $csv" >&2
      exit 1
    fi
  done
  rm -f "$work/in-turn-$side.xml" "$work/plain-$side.xml"
  csv_bytes=$(wc -c <"$csv")
  doc_bytes=$(wc -c <"$doc")
  voxels=$(($(wc -l <"$doc") - 6))

  keys=()
  timed=()
  add csv "--remove=$work/timed-csv.xml" "$cubewright" "$csv" "$work/timed-csv.xml"
  add in_turn "--remove=$work/timed-in-turn.xml" "$in_turn" "$csv" "$work/timed-in-turn.xml"
  add csv_floor "--remove=$work/timed-floor.xml" "${floor_command[@]}" "$csv" "$doc" \
    "$work/timed-floor.xml"
  back=$work/back-$side.csv
  if try_direction "document -> CSV" "$back" "$cubewright" --to csv "$doc" "$back"; then
    add back "--remove=$work/timed-back.csv" "$cubewright" --to csv "$doc" "$work/timed-back.csv"
    add back_floor "--remove=$work/timed-back-floor.csv" "${floor_command[@]}" "$doc" "$back" \
      "$work/timed-back-floor.csv"
  fi
  vox=$work/model-$side.vox
  vox_doc=$work/vox-$side.xml
  if try_direction ".vox -> document" "$vox" "$cubewright" --to vox "$doc" "$vox" &&
    try_direction ".vox -> document" "$vox_doc" "$cubewright" "$vox" "$vox_doc"; then
    add vox "--remove=$work/timed-vox.xml" "$cubewright" "$vox" "$work/timed-vox.xml"
    add vox_floor "--remove=$work/timed-vox-floor.xml" "${floor_command[@]}" "$vox" "$vox_doc" \
      "$work/timed-vox-floor.xml"
  fi
  png=$work/preview-$side.png
  if try_direction "CSV -> document with --preview" "$png" \
    "$cubewright" --preview "$png" "$csv" "$work/preview-$side.xml"; then
    add preview "--remove=$work/timed-preview.xml" "--remove=$work/timed-preview.png" \
      "$cubewright" --preview "$work/timed-preview.png" "$csv" "$work/timed-preview.xml"
    add preview_floor "--remove=$work/timed-preview-floor.xml" \
      "--remove=$work/timed-preview-floor.png" "${floor_command[@]}" "$csv" \
      "$work/preview-$side.xml" "$work/timed-preview-floor.xml" "$png" \
      "$work/timed-preview-floor.png"
  fi

  # One line each: key, median seconds, peak KiB.
  mapfile -t results < <("$build/bench/measure_runs" "$runs" "${timed[@]}")
  mapfile -t plain_result < <("$build/bench/measure_runs" "$plain_runs" \
    "--remove=$work/timed-plain.xml" "$build/bench/plain_convert" "$csv" "$work/timed-plain.xml")
  rm -f "$work"/timed-* "$work/preview-$side.xml"
  measured=$(for i in "${!keys[@]}"; do echo "${keys[$i]} ${results[$i]}"; done
    echo "plain ${plain_result[0]}")

  echo
  echo "Model: $side x $side x $side cells, $voxels filled;" \
    "CSV $csv_bytes bytes ($(mib "$csv_bytes") MiB), document $doc_bytes bytes ($(mib "$doc_bytes") MiB)."
  echo "Median wall time of $runs runs taken in turns (the plain baseline: $plain_runs);" \
    "peak resident memory of any run."
  echo
  table=$(awk -v side="$side" -v csv_bytes="$csv_bytes" -v doc_bytes="$doc_bytes" '
    { t[$1] = $2 * 1000; m[$1] = $3 / 1024; have[$1] = 1 }
    function cell(key, floor_key, label, target, met) {
      if (!have[key]) {
        printf "| %-36s | %9s | %10s | %8s | %12s | %-34s |\n", label, "n/a", "n/a", "n/a", "n/a", \
          target == "" ? "" : target
        return
      }
      verdict = target == "" ? "" : target ": " (met ? "met" : "MISSED")
      printf "| %-36s | %9.1f | %10.1f | %7.2fx | %12.1f | %-34s |\n", label, t[key], t[floor_key], \
        t[key] / t[floor_key], m[key], verdict
      printf "growth %s %s %.3f %.3f\n", side, key, t[key], t[floor_key] > "/dev/stderr"
    }
    END {
      printf "| %-36s | %9s | %10s | %8s | %12s | %-34s |\n", "direction", "time (ms)", \
        "floor (ms)", "vs floor", "memory (MiB)", "target"
      printf "|%s|%s:|%s:|%s:|%s:|%s|\n", "--------------------------------------", "----------", \
        "-----------", "---------", "-------------", "------------------------------------"
      csv_ms = t["csv"]
      cell("csv", "csv_floor", "CSV -> document", "at most 1.2x the floor", \
        t["csv"] <= 1.2 * t["csv_floor"])
      cell("in_turn", "csv_floor", "CSV -> document, in turn", "", 0)
      cell("back", "back_floor", "document -> CSV (--to csv)", \
        side == 128 ? "at most 2x the floor" : "", t["back"] <= 2 * t["back_floor"])
      cell("vox", "vox_floor", ".vox -> document", \
        side == 256 ? "at most 1.5x CSV -> document" : "", t["vox"] <= 1.5 * csv_ms)
      cell("preview", "preview_floor", "CSV -> document with --preview", \
        side == 128 ? "at most 2x CSV -> document" : "", t["preview"] <= 2 * csv_ms)
      if (side == 128) {
        cell("plain", "csv_floor", "plain baseline (bench/plain_convert)", \
          "at least 20x CSV -> document", t["plain"] >= 20 * csv_ms)
      } else {
        cell("plain", "csv_floor", "plain baseline (bench/plain_convert)", "", 0)
      }
      input = csv_bytes / 1048576
      over = m["csv"] - input
      printf "\nCSV -> document is %.2fx the I/O floor and %.1fx faster than the plain baseline.\n", \
        t["csv"] / t["csv_floor"], t["plain"] / csv_ms
      printf "It peaks at %.1f MiB: the input, %.1f MiB, %+.1f MiB (target at most + 8 MiB: %s).\n", \
        m["csv"], input, over, over <= 8 ? "met" : "MISSED"
      printf "growth %s memory %.3f %.3f\n", side, m["csv"], over > "/dev/stderr"
      if (have["back"]) {
        document = doc_bytes / 1048576
        allowed = 16 + 4 * side * side * side / 1048576
        printf "document -> CSV peaks at %.1f MiB: the document, %.1f MiB, %+.1f MiB", m["back"], \
          document, m["back"] - document
        printf " (target at most + 16 MiB + 4 bytes a cell, %.1f MiB: %s).\n", allowed, \
          m["back"] - document <= allowed ? "met" : "MISSED"
      }
    }' <<<"$measured" 2>"$work/growth")
  echo "$table"
  mapfile -t -O ${#growth[@]} growth < <(sed 's/^growth //' "$work/growth")
  for note in "${notes[@]}"; do echo "$note"; done
done

if [ ${#sides[@]} -gt 1 ]; then
  echo
  echo "How each direction grows: median time in ms, and its ratio to its own I/O floor;"
  echo "memory: the peak of CSV -> document, and beyond the input, in MiB."
  echo
  printf '%s\n' "${growth[@]}" | awk -v sides="${sides[*]}" '
    BEGIN {
      n = split(sides, side, " ")
      split("csv in_turn back vox preview plain memory", order, " ")
      label["csv"] = "CSV -> document"; label["in_turn"] = "CSV -> document, in turn"
      label["back"] = "document -> CSV"; label["vox"] = ".vox -> document"
      label["preview"] = "CSV -> document with --preview"; label["plain"] = "plain baseline"
      label["memory"] = "memory of CSV -> document"
    }
    { value[$2, $1] = $3; floor_value[$2, $1] = $4; seen[$2] = 1 }
    END {
      printf "| %-30s |", "direction"
      for (i = 1; i <= n; ++i) printf " %18s |", side[i] "^3"
      printf "\n|%s|", "--------------------------------"
      for (i = 1; i <= n; ++i) printf "%s:|", "-------------------"
      printf "\n"
      for (k = 1; k <= 7; ++k) {
        key = order[k]
        if (!seen[key]) continue
        printf "| %-30s |", label[key]
        for (i = 1; i <= n; ++i) {
          if (!((key, side[i]) in value)) { printf " %18s |", "n/a"; continue }
          if (key == "memory") {
            text = sprintf("%.1f (%+.1f)", value[key, side[i]], floor_value[key, side[i]])
          } else {
            text = sprintf("%.1f (%.2fx)", value[key, side[i]], \
              value[key, side[i]] / floor_value[key, side[i]])
          }
          printf " %18s |", text
        }
        printf "\n"
      }
    }'
fi

# The scenes: each converted once, the sparse one also there and back
# through --to vox, which must give the same document again.
notes=()
sparse=$work/scene-sparse.vox
rotated=$work/scene-rotated.vox
"$build/bench/generate_scene" 4 4 4 16 1360 100 0 "$sparse"
"$build/bench/generate_scene" 8 1 8 64 64 25 1 "$rotated"
keys=()
timed=()
for scene in sparse rotated; do
  vox=$work/scene-$scene.vox
  made=$work/scene-$scene.xml
  if try_direction "$scene .vox scene -> document" "$made" "$cubewright" "$vox" "$made"; then
    add "$scene" "--remove=$work/timed-$scene.xml" "$cubewright" "$vox" "$work/timed-$scene.xml"
    add "${scene}_floor" "--remove=$work/timed-$scene-floor.xml" "${floor_command[@]}" "$vox" \
      "$made" "$work/timed-$scene-floor.xml"
  fi
done
if [ -s "$work/scene-sparse.xml" ]; then
  "$cubewright" --to vox "$work/scene-sparse.xml" "$work/scene-back.vox" >/dev/null
  "$cubewright" "$work/scene-back.vox" "$work/scene-back.xml"
  if ! cmp -s "$work/scene-sparse.xml" "$work/scene-back.xml"; then
    echo "bench: the sparse scene's document changed on its way through --to vox" >&2
    exit 1
  fi
  rm -f "$work/scene-back.vox" "$work/scene-back.xml"
fi
if [ ${#keys[@]} -ne 0 ]; then
  mapfile -t results < <("$build/bench/measure_runs" "$runs" "${timed[@]}")
  rm -f "$work"/timed-*
  measured=$(for i in "${!keys[@]}"; do echo "${keys[$i]} ${results[$i]}"; done)
  echo
  echo "Scenes: sparse $(wc -c <"$sparse") bytes of .vox," \
    "$(($(wc -l <"$work/scene-sparse.xml") - 6)) voxels;" \
    "rotated $(wc -c <"$rotated") bytes, $(($(wc -l <"$work/scene-rotated.xml") - 6)) voxels."
  echo
  awk -v sparse_bytes="$(wc -c <"$sparse")" '
    { t[$1] = $2 * 1000; m[$1] = $3 / 1024; have[$1] = 1 }
    function cell(key, label, verdict) {
      if (!have[key]) {
        printf "| %-36s | %9s | %10s | %8s | %12s | %-34s |\n", label, "n/a", "n/a", "n/a", "n/a", ""
        return
      }
      printf "| %-36s | %9.1f | %10.1f | %7.2fx | %12.1f | %-34s |\n", label, t[key], \
        t[key "_floor"], t[key] / t[key "_floor"], m[key], verdict
    }
    END {
      printf "| %-36s | %9s | %10s | %8s | %12s | %-34s |\n", "direction", "time (ms)", \
        "floor (ms)", "vs floor", "memory (MiB)", "target"
      printf "|%s|%s:|%s:|%s:|%s:|%s|\n", "--------------------------------------", "----------", \
        "-----------", "---------", "-------------", "------------------------------------"
      input = sparse_bytes / 1048576
      cell("sparse", "sparse .vox scene -> document", \
        "at most input + 16 MiB: " (m["sparse"] - input <= 16 ? "met" : "MISSED"))
      cell("rotated", "rotated .vox scene -> document", \
        "at most 2x the floor: " (t["rotated"] <= 2 * t["rotated_floor"] ? "met" : "MISSED"))
      if (have["sparse"]) {
        printf "\nThe sparse scene peaks at %.1f MiB: the input, %.1f MiB, %+.1f MiB.\n", \
          m["sparse"], input, m["sparse"] - input
      }
    }' <<<"$measured"
fi
for note in "${notes[@]}"; do echo "$note"; done
