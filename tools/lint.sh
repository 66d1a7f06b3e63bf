#!/usr/bin/env bash
# Lint: every C++ file of the tree must be as clang-format leaves it, and
# src/ must be clean under the clang-tidy checks of .clang-tidy, read with the
# compile database of the lint preset. Exits non-zero on the first finding.
#   tools/lint.sh            check
#   CLANG_FORMAT=clang-format-14 CLANG_TIDY=clang-tidy-14 tools/lint.sh
set -euo pipefail
cd "$(dirname "$0")/.."

clang_format=${CLANG_FORMAT:-clang-format}
clang_tidy=${CLANG_TIDY:-clang-tidy}

# Tracked files plus new ones not yet added, so the check sees the work tree.
mapfile -t cxx_files < <(git ls-files --cached --others --exclude-standard -- \
  'src/*.cc' 'src/*.h' 'tests/*.cc' 'tests/*.h' 'fuzz/*.cc' 'fuzz/*.h' 'bench/*.cc' 'bench/*.h' |
  sort -u | while read -r f; do [ -f "$f" ] && echo "$f"; done)
echo "lint: clang-format over ${#cxx_files[@]} files"
"$clang_format" --dry-run --Werror "${cxx_files[@]}"

# Files from other projects keep their licence and credit: every copy of
# tests/data/rgb.csv (from vengi's test data, CC BY-SA 3.0) needs its nearest
# README.md, in its folder or above, to say so.
rgb=$(git hash-object tests/data/rgb.csv)
while read -r _ object _ path; do
  [ "$object" = "$rgb" ] || continue
  folder=$(dirname "$path")
  while [ ! -f "$folder/README.md" ] && [ "$folder" != . ]; do folder=$(dirname "$folder"); done
  if ! grep -q vengi "$folder/README.md" || ! grep -q "CC BY-SA 3.0" "$folder/README.md"; then
    echo "lint: $folder/README.md must credit vengi and name CC BY-SA 3.0 for $path" >&2
    exit 1
  fi
done < <(git ls-files --stage)
echo "lint: licence notes of third-party files"

# The flow runs one way: no file of src/ includes one from a higher layer.
tools/check-layers.sh
echo "lint: layers of src/"

cmake --preset lint >/dev/null
mapfile -t src_files < <(git ls-files --cached --others --exclude-standard -- 'src/*.cc' |
  while read -r f; do [ -f "$f" ] && echo "$f"; done)
# platform files for other systems are not in this build's database
mapfile -t src_files < <(for f in "${src_files[@]}"; do
  grep -q "\"file\": \"[^\"]*/$f\"" build/lint/compile_commands.json && echo "$f"; done)
echo "lint: clang-tidy over ${#src_files[@]} files of src/"
printf '%s\0' "${src_files[@]}" |
  xargs -0 -n 1 -P 2 "$clang_tidy" -p build/lint --quiet 2> >(grep -v \
    -e 'warnings generated' -e '^Suppressed ' -e 'Use -header-filter' -e 'treated as errors' >&2)
echo "lint: clean"
