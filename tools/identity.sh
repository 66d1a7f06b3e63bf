#!/usr/bin/env bash
# Builds the Release tool of a commit (02fb46e unless BASELINE names another)
# and of the work tree, then holds the work tree's to every byte of the
# commit's with tools/identity.py; any further arguments go to it.
#   tools/identity.sh                       the default 3000 random cases
#   tools/identity.sh --cases 500 --seed 7
#   BASELINE=HEAD~3 tools/identity.sh
#   OLD=path/to/cubewright NEW=path/to/cubewright tools/identity.sh   no builds
# The commit is unpacked (git archive) into build/identity/COMMIT and built
# there once, with its own example preset; JOBS (2) limits both builds.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${JOBS:-2}
old=${OLD:-}
if [ -z "$old" ]; then
  commit=$(git rev-parse --verify "${BASELINE:-02fb46e}^{commit}")
  tree=build/identity/$commit
  old=$tree/build/example/cubewright
  if [ ! -x "$old" ]; then
    echo "identity: building $commit in $tree" >&2
    rm -rf "$tree"
    mkdir -p "$tree"
    git archive "$commit" | tar -x -C "$tree"
    (cd "$tree" && cmake --preset example >/dev/null &&
      cmake --build --preset example --target cubewright -j "$jobs" >/dev/null)
  fi
fi
new=${NEW:-}
if [ -z "$new" ]; then
  cmake --preset example >/dev/null
  cmake --build --preset example --target cubewright -j "$jobs" >/dev/null
  new=build/example/cubewright
fi
exec python3 tools/identity.py "$@" "$old" "$new"
