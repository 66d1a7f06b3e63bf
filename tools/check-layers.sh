#!/usr/bin/env bash
# Checks that no file in src/ includes one from a higher layer, so that the
# flow runs one way: the helpers at the bottom, then the middle, the formats
# that read and write it, the conversion that joins them, and app/ on top.
# Formats of one layer do not include each other.
#
#   tools/check-layers.sh      prints each include that goes up, exits 1 if any
set -euo pipefail
cd "$(dirname "$0")/.."

# A folder's layer; tuning.h sits at the root of src/ with the helpers.
layer_of() {
  case "$1" in
    tuning.h | text | memory | threads) echo 0 ;;
    io) echo 1 ;;
    model) echo 2 ;;
    model_document | vox_format | preview) echo 3 ;;
    sproxel_csv) echo 4 ;;  # its fast paths write through the document writer
    conversion) echo 5 ;;
    app) echo 6 ;;
    *) echo unknown ;;
  esac
}

status=0
while IFS= read -r file; do
  from=${file#src/}
  from_folder=${from%%/*}
  from_layer=$(layer_of "$from_folder")
  if [ "$from_layer" = unknown ]; then
    echo "check-layers: $file: src/$from_folder has no layer"
    status=1
    continue
  fi
  while IFS= read -r included; do
    to_folder=${included%%/*}
    [ "$to_folder" = "$from_folder" ] && continue
    to_layer=$(layer_of "$to_folder")
    # Up, or sideways between formats; the helpers may use each other.
    if [ "$to_layer" = unknown ] || [ "$to_layer" -gt "$from_layer" ] ||
      { [ "$to_layer" -eq "$from_layer" ] && [ "$from_layer" -ne 0 ]; }; then
      echo "check-layers: $file includes $included, which is not below it"
      status=1
    fi
  done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done < <(find src -name '*.h' -o -name '*.cc' | sort)
exit $status
