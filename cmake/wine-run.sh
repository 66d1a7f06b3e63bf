#!/bin/sh
# Runs a Windows program of the cross build under wine:
#   wine-run.sh PROGRAM [ARGUMENT...]
# Each build tree gets a wine prefix of its own, <build>/wine-prefix, found
# by going up from the program (or the working folder) to CMakeCache.txt; a
# WINEPREFIX in the environment wins, and one of the two is needed. The prefix is made on first use
# (wineboot, up to half a minute), once even when several tests start
# together. No display is needed.
set -eu

if [ -z "${WINEPREFIX:-}" ]; then
  case $1 in
    */*) folder=$(cd "$(dirname "$1")" 2>/dev/null && pwd || pwd) ;;
    *) folder=$(pwd) ;;
  esac
  while [ "$folder" != / ] && [ ! -f "$folder/CMakeCache.txt" ]; do
    folder=$(dirname "$folder")
  done
  if [ "$folder" = / ]; then
    echo "wine-run.sh: $1 is not in a build tree: set WINEPREFIX" >&2
    exit 2
  fi
  WINEPREFIX=$folder/wine-prefix
fi
export WINEPREFIX

wine=${CUBEWRIGHT_WINE:-/usr/lib/wine/wine64}
export WINEDEBUG=-all
# File names on the Linux side are UTF-8 whatever the caller's locale.
export LC_ALL=C.UTF-8
# No Mono or Gecko downloads, no dialogs.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

if [ ! -f "$WINEPREFIX/.cubewright-ready" ]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.cubewright-ready" ]; then
      "$wine" wineboot --init >/dev/null 2>&1 || true
      "$(dirname "$wine")/wineserver" -w 2>/dev/null || true
      touch "$WINEPREFIX/.cubewright-ready"
    fi
  ) 9>"$WINEPREFIX/.lock"
fi

# Wine now and then fails to start a program at all: the run ends with a
# non-zero status and prints nothing, while a second try of the same command
# works (seen about twice in a thousand fresh wine processes run back to
# back, as the previous program's wineserver winds down). Every program of
# this build prints at least one line whenever it fails, so a failed run
# that printed nothing never started: it is run again, up to three times,
# after a pause that lets the old server finish. The streams are held back
# until the program has ended, and CUBEWRIGHT_WINE_RETRY_LOG, when set, names
# a file that gets one line per retry.
output=$(mktemp "${TMPDIR:-/tmp}/wine-run-out.XXXXXX")
errors=$(mktemp "${TMPDIR:-/tmp}/wine-run-err.XXXXXX")
trap 'rm -f "$output" "$errors"' EXIT
attempt=1
while :; do
  status=0
  "$wine" "$@" >"$output" 2>"$errors" || status=$?
  if [ "$status" = 0 ] || [ -s "$output" ] || [ -s "$errors" ] || [ "$attempt" = 3 ]; then
    break
  fi
  if [ -n "${CUBEWRIGHT_WINE_RETRY_LOG:-}" ]; then
    echo "status $status with no output, run again: $*" >>"$CUBEWRIGHT_WINE_RETRY_LOG"
  fi
  attempt=$((attempt + 1))
  sleep 1
done
cat "$output"
cat "$errors" >&2
exit "$status"
