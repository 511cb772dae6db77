#!/usr/bin/env bash
# Our Drovemark started as Workbench starts a tool (a stand-in launcher hands it the start
# message), on an emulated A1200: it takes the line's settings from its icon's tool types, serves
# the command-line client, stops when started a second time, and hands both messages back.
#   amiga_workbench_test.sh PROGRAM LAUNCHER ICON_WRITER CLI
set -uo pipefail
program=$1
launcher=$2
icons=$3
cli=$4
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
[ -f "$launcher" ] || { echo "no launcher at $launcher"; exit 77; }

here=$(mktemp -d "${TMPDIR:-/tmp}/drovemark-wb-XXXXXX")
export XDG_RUNTIME_DIR=$here TZ=UTC
trap 'rm -rf "$here"' EXIT
mkdir -p "$here/boot/S" "$here/served"
cp "$launcher" "$here/boot/WBLaunch"
# The emulated line has no modem lines: the server answers only if it took HANDSHAKE=NONE from
# its icon.
"$icons" tool "$here/boot/Drovemark.info" 20000 BAUD=19200 HANDSHAKE=NONE "(PORT=356)" || exit 1
printf 'WBLaunch Drovemark Work:stop Work:replied\n' >"$here/boot/S/Startup-Sequence"
printf 'hello\n' >"$here/served/hello.txt"

session() {
  failures=0
  fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
  timeout 60 "$cli" --serial "$DROVEMARK_LINE" ls Work: </dev/null >"$here/out" 2>&1 ||
    fail "ls Work: $(cat "$here/out")"
  grep -q '^hello.txt ' "$here/out" || fail "the listing lacks hello.txt: $(cat "$here/out")"
  touch "$here/served/stop"
  for _ in $(seq 200); do [ -s "$here/served/replied" ] && break; sleep 0.1; done
  [ "$(cat "$here/served/replied" 2>/dev/null)" = "2 replied" ] ||
    fail "the start messages came back as: $(cat "$here/served/replied" 2>/dev/null)"
  return $failures
}
export -f session
export cli here
DROVEMARK_AMIGA_BOOT=$here/boot "$tools/with-amiga" a1200 "$program" "$here/served" \
  bash -c "$(declare -f session); session"
