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
