#!/usr/bin/env bash
# Checks the Windows release archive the way a modder meets it, under wine:
#   tools/check-windows-zip.sh [build/packages/cubewright-<version>-win64.zip]
# - the zip holds exactly the files README.txt lists, at its top level, and
#   its texts end their lines in CR LF;
# - unpacked as README.txt says, every command README.txt shows at a cmd
#   prompt (`C:\folder> command`) runs as it stands, through cmd, in the
#   folder of its prompt: once unpacked to C:\Tools\cubewright as README.txt
#   suggests, once to a folder with a non-ASCII name; the documents written
#   are checked against examples/rifle.xml, and the pictures the commands
#   draw against the ones the zip holds (README.txt shows those as what its
#   commands draw);
# - cubewright-drop.bat, given files the way Explorer drops them (paths with
#   blanks, non-ASCII letters and parentheses, and one file that fails),
#   converts each to NAME.xml beside it, lists every result and waits for a
#   key.
# The wine prefix is build/zip-check/wine-prefix, made on first use.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

zip=${1:-}
if [ -z "$zip" ]; then
  zip=$(ls build/packages/cubewright-*-win64.zip 2>/dev/null | tail -n 1 || true)
fi
if [ -z "$zip" ] || [ ! -f "$zip" ]; then
  echo "check-windows-zip: no zip; run cmake --workflow --preset package first" >&2
  exit 2
fi
zip=$(cd "$(dirname "$zip")" && pwd)/$(basename "$zip")

export WINEPREFIX=$source_dir/build/zip-check/wine-prefix
mkdir -p "$WINEPREFIX"
wine() { "$source_dir/cmake/wine-run.sh" "$@"; }
drive_c=$WINEPREFIX/drive_c
failures=0
fail() {
  echo "check-windows-zip: FAILED: $*" >&2
  failures=$((failures + 1))
}
crlf() { sed 's/$/\r/' "$1"; }
# The wine prefix is made before the first check, so its own output stays out.
wine cmd /c exit </dev/null >/dev/null 2>&1

# The Linux path of a C: path, made if missing. Wine finds names without
# regard to case, so an existing folder is used whatever its case.
unix_path() {
  local rest=${1#[Cc]:\\} path=$drive_c part found
  IFS='\' read -r -a parts <<<"$rest"
  for part in "${parts[@]}"; do
    [ -n "$part" ] || continue
    found=$(find "$path" -mindepth 1 -maxdepth 1 -iname "$part" -print -quit 2>/dev/null || true)
    if [ -z "$found" ]; then
      found=$path/$part
      mkdir -p "$found"
    fi
    path=$found
  done
  printf '%s\n' "$path"
}

# --- The archive's contents -------------------------------------------------
expected_entries=$'LICENSE.txt\nREADME.txt\ncubewright-drop.bat\ncubewright.exe\nexamples/rifle.csv\nrifle-fit.png\nrifle-preview.png'
entries=$(cmake -E tar tf "$zip" | grep -v '/$' | LC_ALL=C sort)
if [ "$entries" != "$expected_entries" ]; then
  fail "the zip holds"$'\n'"$entries"$'\n'"instead of"$'\n'"$expected_entries"
fi
unpacked=$source_dir/build/zip-check/unpacked
rm -rf "$unpacked" && mkdir -p "$unpacked"
(cd "$unpacked" && cmake -E tar xf "$zip")
for text in README.txt LICENSE.txt cubewright-drop.bat; do
  if grep -q $'[^\r]$' "$unpacked/$text" || grep -q '^$' "$unpacked/$text"; then
    fail "$text has lines that do not end in CR LF"
  fi
done
for entry in $expected_entries; do
  entry_name=${entry//\//\\}
  grep -qF -- "$entry_name" "$unpacked/README.txt" || fail "README.txt does not mention $entry_name"
done

# --- README.txt's commands, as they stand -----------------------------------
readme_folder='C:\Tools\cubewright'
mapfile -t prompts < <(sed -n 's/\r$//; s/^ *\([A-Za-z]:\\[^>]*\)> \(.*\)$/\1>\2/p' "$unpacked/README.txt")
if [ "${#prompts[@]}" -lt 2 ]; then
  fail "README.txt shows no commands at a cmd prompt"
fi
expected_rifle=$(crlf examples/rifle.xml)
# The example mirrored along x and shifted by 11: x becomes 11 - x, in the
# same order.
expected_mirrored=$(awk '{
  if (match($0, /x="[0-9]+"/)) {
    x = substr($0, RSTART + 3, RLENGTH - 4)
    $0 = substr($0, 1, RSTART - 1) "x=\"" (11 - x) "\"" substr($0, RSTART + RLENGTH)
  }
  printf "%s\r\n", $0
}' examples/rifle.xml)

for install in "$readme_folder" 'C:\Инструменты\cubewright'; do
  echo "== unpacked to $install"
  install_dir=$(unix_path "$install")
  rm -rf "$install_dir" && mkdir -p "$install_dir"
  (cd "$install_dir" && cmake -E tar xf "$zip")
  # The commands draw the pictures again; none is left to pass for drawn.
  rm -f "$install_dir"/*.png
  models=''
  for prompt in "${prompts[@]}"; do
    folder=${prompt%%>*}
    command=${prompt#*>}
    folder=${folder//"$readme_folder"/"$install"}
    command=${command//"$readme_folder"/"$install"}
    [ "$folder" = "$install" ] || models=$(unix_path "$folder")
    echo "$folder> $command"
    read -r -a words <<<"$command"
    status=0
    (cd "$(unix_path "$folder")" && wine cmd /c "${words[@]}" </dev/null) || status=$?
    [ "$status" = 0 ] || fail "$folder> $command: status $status"
  done
  [ "$(cat "$install_dir/examples/rifle.xml" 2>/dev/null)" = "$expected_rifle" ] ||
    fail "$install\\examples\\rifle.xml is not examples/rifle.xml with CR LF"
  [ -n "$models" ] && [ "$(cat "$models/assault_rifle1.xml" 2>/dev/null)" = "$expected_mirrored" ] ||
    fail "assault_rifle1.xml is not the example mirrored along x and shifted by 11"
  for picture in "$unpacked"/*.png; do
    cmp -s "$picture" "$install_dir/${picture##*/}" ||
      fail "$install\\${picture##*/} as README.txt's commands draw it is not the one in the zip"
  done
  rm -f "$models/assault_rifle1.xml" "$models/rifle.csv"
done

# --- Drag and drop ------------------------------------------------------------
echo "== files dropped on cubewright-drop.bat"
first='C:\users\anna\Documents\Мои модели\ружьё 1.csv'
second='C:\Моды (2)\rifle copy.csv'
broken='C:\Моды (2)\empty.csv'
for dropped in "$first" "$second" "$broken"; do
  folder=$(unix_path "${dropped%\\*}")
  rm -f "$folder"/*.xml
  if [ "$dropped" = "$broken" ]; then : >"$folder/${dropped##*\\}"; else
    cp examples/rifle.csv "$folder/${dropped##*\\}"
  fi
done
# The first one's model exists already: it is replaced only after a y.
printf '<model>\n</model>\n' >"$(unix_path "${first%\\*}")/$(basename "${first##*\\}" .csv).xml"
bat=$(unix_path 'C:\Инструменты\cubewright')/cubewright-drop.bat
status=0
output=$(cd "$drive_c" && printf 'y\r\n\r\n' |
  wine cmd /c 'C:\Инструменты\cubewright\cubewright-drop.bat' "$first" "$second" "$broken" 2>&1) ||
  status=$?
printf '%s\n' "$output" | sed 's/\r$//'
[ -f "$bat" ] || fail "no cubewright-drop.bat in the zip"
[ "$status" = 1 ] || fail "cubewright-drop.bat ended with status $status, not 1 (one file failed)"
for converted in "$first" "$second"; do
  xml=$(unix_path "${converted%\\*}")/$(basename "${converted##*\\}" .csv).xml
  [ "$(cat "$xml" 2>/dev/null)" = "$expected_rifle" ] || fail "dropping $converted did not give ${xml##*/}"
done
[ ! -e "$(unix_path 'C:\Моды (2)')/empty.xml" ] || fail "a failed drop left empty.xml"
for line in 'exists: replace it? [y/N]' 'not a sproxel CSV export' '3 dropped, 1 failed.' \
  'Press any key'; do
  grep -qF -- "$line" <<<"$output" || fail "the drop window does not show \"$line\""
done

if [ "$failures" != 0 ]; then
  echo "check-windows-zip: $failures check(s) failed" >&2
  exit 1
fi
echo "check-windows-zip: $(basename "$zip") is as README.txt says"
