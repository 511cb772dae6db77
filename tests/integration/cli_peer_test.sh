#!/usr/bin/env bash
# The command-line client against the emulated Amiga, end to end: every command, files of the
# boundary sizes byte-identical both ways, the overwrite questions both ways, whole drawers
# fetched with their dates and protection, ISO-8859-1 names, a busy connection, server errors as
# messages.
#   cli_peer_test.sh tcp|pty PEER CLI...     (CLI may be "wine-run drovemark.exe")
set -uo pipefail
mode=$1
peer=$2
shift 2
cli=("$@")
[ -x "$peer" ] || { echo "no amiga-peer at $peer: build the native preset first" >&2; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/drovemark-cli-XXXXXX")
# The connection lock of these clients is their own; dates are compared in one zone.
export XDG_RUNTIME_DIR=$work TZ=UTC
wine=0
if [[ "${cli[0]}" == *wine* ]]; then
  wine=1
  # Wine reads the command line and file names in the Unix locale's encoding: one that exists.
  export LC_CTYPE=C.UTF-8
fi
peer_pid=""
cleanup() {
  [ -n "$peer_pid" ] && kill "$peer_pid" 2>/dev/null && wait "$peer_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

mkdir -p "$work/work/Devs" "$work/floppy/old" "$work/local" "$work/back"
printf 'hello amiga\n' > "$work/work/readme.txt"

start_peer() {
  local extra=("$@")
  if [ "$mode" = pty ]; then
    "$peer" --volume DH0:Work="$work/work" --floppy DF1:Disk="$work/floppy" --floppy DF0 \
      --pty "$work/line" --baud 115200 "${extra[@]}" >"$work/peer.log" 2>&1 &
    peer_pid=$!
    for _ in $(seq 50); do [ -e "$work/line" ] && break; sleep 0.1; done
    connect=(--serial "$work/line" --baud 115200)
  else
    rm -f "$work/port"
    "$peer" --volume DH0:Work="$work/work" --floppy DF1:Disk="$work/floppy" --floppy DF0 \
      --listen 127.0.0.1:0 --port-file "$work/port" "${extra[@]}" >"$work/peer.log" 2>&1 &
    peer_pid=$!
    for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
    connect=(--port "$(cat "$work/port")")
  fi
}

stop_peer() {
  kill "$peer_pid" 2>/dev/null
  wait "$peer_pid" 2>/dev/null
  peer_pid=""
}

# Runs the client; its output without Windows line ends, in UTF-8 (a Windows client writes the
# ANSI code page to a pipe).
dm() {
  timeout 120 "${cli[@]}" "${connect[@]}" "$@" </dev/null >"$work/.out" 2>"$work/.err"
  local status=$?
  local from=UTF-8
  [ $wine = 1 ] && from=WINDOWS-1252
  tr -d '\r' <"$work/.out" | iconv -f $from -t UTF-8
  tr -d '\r' <"$work/.err" | iconv -f $from -t UTF-8 >&2
  return $status
}

# Sizes around the packet payload (508 bytes) and one large file; the serial line is slower.
sizes=(0 1 508 509 1048576)
[ "$mode" = pty ] && sizes=(0 1 508 509 65536)

start_peer --escaped-names

dm ls >"$work/out" 2>&1 || fail "ls of the volumes"
grep -q '^Work .*Volume' "$work/out" || fail "ls shows the Work volume: $(cat "$work/out")"
grep -q '^DF0 .*Floppy' "$work/out" || fail "ls shows the empty drive"

for size in "${sizes[@]}"; do
  head -c "$size" /dev/urandom > "$work/local/f$size.bin"
  dm put "$work/local/f$size.bin" Work:Devs 2>"$work/err" || fail "put $size bytes: $(cat "$work/err")"
  dm get "Work:Devs/f$size.bin" "$work/back/f$size.bin" 2>"$work/err" || fail "get $size bytes: $(cat "$work/err")"
  cmp -s "$work/local/f$size.bin" "$work/back/f$size.bin" || fail "$size bytes came back different"
  cmp -s "$work/local/f$size.bin" "$work/work/Devs/f$size.bin" || fail "$size bytes stored different"
done
[ -e "$work/back/f1.bin.part" ] && fail "a partial download was left behind"

# The overwrite question, both ways: without a terminal the answer is no, the exit status says
# that something was skipped, --yes replaces.
printf 'new content\n' > "$work/local/readme.txt"
dm put "$work/local/readme.txt" Work: 2>"$work/err" && fail "a skipped upload exits 0"
grep -q 'not replaced' "$work/err" || fail "an existing file is not replaced unasked: $(cat "$work/err")"
cmp -s "$work/work/readme.txt" <(printf 'hello amiga\n') || fail "the unasked file changed"
dm get Work:readme.txt "$work/local/readme.txt" 2>"$work/err" && fail "a skipped download exits 0"
grep -q 'not replaced' "$work/err" || fail "a download replaced unasked: $(cat "$work/err")"
cmp -s "$work/local/readme.txt" <(printf 'new content\n') || fail "the unasked PC file changed"
dm --yes put "$work/local/readme.txt" Work: || fail "put --yes"
cmp -s "$work/work/readme.txt" "$work/local/readme.txt" || fail "put --yes did not replace"

# A drawer with all it holds, dates and a write protection carried over; a second fetch skips
# what is there and says so, --yes replaces it.
mkdir -p "$work/work/Tree/Sub" "$work/work/Tree/Empty"
printf 'top\n' >"$work/work/Tree/a.txt"
printf 'below\n' >"$work/work/Tree/Sub/b.txt"
touch -d '2001-02-03 04:05:06' "$work/work/Tree/a.txt" "$work/work/Tree/Sub/b.txt" "$work/work/Tree/Sub"
dm protect Work:Tree/Sub/b.txt -w || fail "protect -w (not taken for an option)"
dm get -r Work:Tree "$work/back" 2>"$work/err" || fail "get -r: $(cat "$work/err")"
diff -r -x .drovemark-meta "$work/work/Tree" "$work/back/Tree" >/dev/null || fail "get -r fetched a different tree"
[ -d "$work/back/Tree/Empty" ] || fail "get -r left out the empty drawer"
for f in a.txt Sub/b.txt Sub; do
  [ "$(stat -c %Y "$work/back/Tree/$f")" = "$(stat -c %Y "$work/work/Tree/$f")" ] ||
    fail "get -r did not keep the date of $f"
done
[ -w "$work/back/Tree/Sub/b.txt" ] && [ "$(id -u)" != 0 ] && fail "the write protection was lost"
stat -c %A "$work/back/Tree/Sub/b.txt" | grep -q '^-r-.r-.r-' || fail "b.txt is not read-only here"
printf 'changed\n' >"$work/back/Tree/a.txt"
dm get -r Work:Tree "$work/back" 2>"$work/err" && fail "a get -r that skipped files exits 0"
grep -q '2 files not fetched' "$work/err" || fail "skipped files not reported: $(cat "$work/err")"
grep -qx changed "$work/back/Tree/a.txt" || fail "get -r replaced a file unasked"
dm --yes get -r Work:Tree "$work/back" || fail "get -r --yes"
cmp -s "$work/work/Tree/a.txt" "$work/back/Tree/a.txt" || fail "get -r --yes did not replace"
# A file that cannot be made here is a failure, said once; the rest of the drawer still arrives.
rm -rf "$work/back/Tree" && mkdir -p "$work/back/Tree/a.txt.part"
dm get -r Work:Tree "$work/back" 2>"$work/err" && fail "a get -r that could not write a file exits 0"
grep -q 'cannot write .*a.txt.part' "$work/err" || fail "the unwritable file is not named: $(cat "$work/err")"
[ -e "$work/back/Tree/a.txt" ] && fail "a file that could not be written got its name"
[ -d "$work/back/Tree/a.txt.part" ] || fail "the folder in the way was removed"
cmp -s "$work/work/Tree/Sub/b.txt" "$work/back/Tree/Sub/b.txt" || fail "the rest of the drawer did not arrive"
# A hostile side's names land inside the target, each as one name (the peer serves %XX-escaped
# host names unescaped): a drawer named ".." must not put its files beside the target.
mkdir -p "$work/work/Hostile/%2E%2E" "$work/work/Bad"
printf 'up\n' >"$work/work/Hostile/%2E%2E/escape.txt"
printf 'dot\n' >"$work/work/Hostile/%2E"
printf 'trail\n' >"$work/work/Hostile/trail."
printf 'colon\n' >"$work/work/Hostile/C:x"
printf 'root\n' >"$work/work/Bad/%2Fevil-root"
mkdir -p "$work/back/in"
dm get -r Work:Hostile "$work/back/in" 2>"$work/err" || fail "get -r of hostile names: $(cat "$work/err")"
[ "$(cd "$work/back/in" && find . | LC_ALL=C sort | tr '\n' ' ')" = ". ./Hostile ./Hostile/C_x ./Hostile/_ ./Hostile/__ ./Hostile/__/escape.txt ./Hostile/trail_ " ] ||
  fail "hostile names did not land inside, one each: $(cd "$work/back" && find . | sort)"
[ -e "$work/back/escape.txt" ] && fail "a drawer named .. climbed out of the target"
dm get -r Work:Bad "$work/back/in" 2>/dev/null && fail "a listing with a name holding / was taken"
[ -n "$(find "$work/back" -name '*evil*')" ] && fail "a file named /evil-root was written"
rm -rf "$work/work/Hostile" "$work/work/Bad" "$work/back/in"

dm ls Work:Tree/a.txt >"$work/out" || fail "ls of a file below a drawer"
[ "$(grep -c '^a.txt ' "$work/out")" = 1 ] || fail "ls of a file: $(cat "$work/out")"

# ISO-8859-1 names and comments in the terminal's encoding; a character that ISO-8859-1 lacks
# is refused, never sent changed.
printf 'umlauts\n' >"$work/local/Grüße.txt"
dm put "$work/local/Grüße.txt" Work: || fail "put of Grüße.txt"
[ -e "$work/work/$(printf 'Gr\xfc\xdfe.txt')" ] || fail "the name did not arrive as ISO-8859-1: $(ls "$work/work")"
dm comment Work:grüsse.txt x 2>/dev/null && fail "a different name was taken for Grüße.txt"
dm comment Work:GRÜßE.TXT "Größe" || fail "comment on an accented name in other case"
dm ls Work: >"$work/out" || fail "ls of accented names"
grep -q '^Grüße.txt .* Größe$' "$work/out" || fail "ls shows the name and comment: $(cat "$work/out")"
dm get Work:Grüße.txt "$work/back" || fail "get of Grüße.txt"
cmp -s "$work/local/Grüße.txt" "$work/back/Grüße.txt" || fail "Grüße.txt came back different"
dm mkdir 'Work:Price in €' 2>"$work/err" && fail "a name with € was sent"
grep -q 'ISO-8859-1' "$work/err" || fail "the refusal does not say why: $(cat "$work/err")"
ls "$work/work" | grep -q Price && fail "a drawer was made for the refused name"


# Drawers, names, attributes, copies and moves.
dm mkdir Work:Letters || fail "mkdir"
[ -d "$work/work/Letters" ] || fail "mkdir made no drawer"
dm rename Work:Letters Mail || fail "rename"
[ -d "$work/work/Mail" ] || fail "rename did not rename"
dm comment Work:readme.txt "read me first" || fail "comment"
dm protect Work:readme.txt +s-d || fail "protect"
dm ls Work: >"$work/out" || fail "ls Work:"
grep -q '^readme.txt .* SRWE  *read me first$' "$work/out" || fail "ls shows bits and comment: $(cat "$work/out")"
dm cp Work:readme.txt Work:Mail || fail "cp"
cmp -s "$work/work/Mail/readme.txt" "$work/local/readme.txt" || fail "cp content"
dm mv Work:Devs/f1.bin Work:Mail || fail "mv"
[ -e "$work/work/Mail/f1.bin" ] && [ ! -e "$work/work/Devs/f1.bin" ] || fail "mv did not move"

# A full drawer is removed only with -r.
dm rm Work:Mail 2>"$work/err"
status=$?
[ $status -eq 1 ] || fail "rm of a full drawer exits 1, not $status"
grep -q 'the drawer is not empty' "$work/err" || fail "rm message: $(cat "$work/err")"
dm rm Work:Mail/f1.bin || fail "rm of a file"
[ -e "$work/work/Mail/f1.bin" ] && fail "rm left the file"
# The copy of readme.txt kept its protection from deletion: -r stops there, and goes on once lifted.
dm rm -r Work:Mail 2>"$work/err" && fail "rm -r deleted a delete-protected file"
[ -e "$work/work/Mail/readme.txt" ] || fail "rm -r took the protected file"
dm protect Work:Mail/readme.txt +d || fail "protect +d"
dm rm -r Work:Mail || fail "rm -r of a full drawer"
[ -e "$work/work/Mail" ] && fail "rm -r left the drawer"

dm count Work: >"$work/out" || fail "count"
grep -Eq '^[0-9]+ drawers, [0-9]+ files, [0-9]+ bytes$' "$work/out" || fail "count output: $(cat "$work/out")"

dm --yes format DF1: Blank || fail "format"
[ -z "$(ls -A "$work/floppy" | grep -v '^\.')" ] || fail "format left files: $(ls -A "$work/floppy")"

dm get Work:NoSuchFile "$work/back/x" 2>"$work/err" && fail "get of a missing file succeeded"

# Another program holding the connection: said in words, with the wait.
if [ $wine = 0 ]; then
  flock -o "$work/drovemark.lock" sleep 5 &
  holder=$!
  sleep 0.3
  dm --wait 1 ls 2>"$work/err" && fail "ls succeeded while the connection was held"
  grep -q 'another program .* using the connection .* after waiting 1 second' "$work/err" ||
    fail "the busy connection message: $(cat "$work/err")"
  kill $holder 2>/dev/null
  wait $holder 2>/dev/null
fi

# What the Amiga side stored survives its restart.
stop_peer
start_peer
dm ls Work: >"$work/out" || fail "ls after restart"
grep -q 'read me first' "$work/out" || fail "the comment did not survive a restart: $(cat "$work/out")"
stop_peer

# Faults on the line (TCP only): bit errors must never reach a file. Each damaged packet costs
# the receiver's fixed quiet wait, so the rate here is kept to a few dozen per direction.
if [ "$mode" = tcp ]; then
  start_peer --faults bits=1e-5 --seed 7
  head -c 262144 /dev/urandom > "$work/local/noisy.bin"
  dm put "$work/local/noisy.bin" Work: 2>"$work/err" || fail "put over a noisy line: $(cat "$work/err")"
  dm get Work:noisy.bin "$work/back/noisy.bin" 2>"$work/err" || fail "get over a noisy line: $(cat "$work/err")"
  cmp -s "$work/local/noisy.bin" "$work/back/noisy.bin" || fail "a noisy round trip changed bytes"
  stop_peer
fi

if [ $failures -gt 0 ]; then
  echo "$failures check(s) failed ($mode)" >&2
  exit 1
fi
echo "all checks passed ($mode)"
