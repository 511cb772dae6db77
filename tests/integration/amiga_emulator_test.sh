#!/usr/bin/env bash
# Our Drovemark on an emulated Amiga (fs-uae, AROS ROM), driven by the command-line client over
# the emulated serial line: every command on a served volume, files byte for byte both ways,
# drawers with all they hold, and the same listings amiga-peer gives for the same folder. Then over
# TCP/IP (the emulator's sockets are the host's): files both ways, a wrong password refused, and
# an upload cut off by a dropped connection, after which the next connection is served.
#   amiga_emulator_test.sh a500|a1200 PROGRAM CLI PEER
model=$1
program=$2
cli=$3
peer=$4
source "$(dirname "$0")/amiga_emulator_rig.sh"

mkdir -p "$here/served/Fixed/Inner" "$here/local/tree/sub/empty"
printf 'hello amiga\n' >"$here/served/readme.txt"
head -c 3000 /dev/urandom >"$here/served/Fixed/data.bin"
printf 'inner\n' >"$here/served/Fixed/Inner/note.txt"
printf 'top\n' >"$here/local/tree/a.txt"
head -c 2000 /dev/urandom >"$here/local/tree/sub/b.bin"
deep=$(printf 'd/%.0s' $(seq 99))d
mkdir -p "$here/served/Deep/$deep"
printf 'leaf\n' >"$here/served/Deep/$deep/leaf"
sizes=(0 1 508 509 12000)
for size in "${sizes[@]}"; do head -c "$size" /dev/urandom >"$here/local/f$size.bin"; done

# Without the dates, which the two servers take from different clocks.
undated() { sed -E 's/[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}/DATE/'; }

session() {
  dm() { timeout 120 "$cli" --serial "$DROVEMARK_LINE" "$@" </dev/null; }

  dm ls >"$here/out" 2>&1 || fail "ls of the volumes: $(cat "$here/out")"
  grep -q '^Work .*Volume' "$here/out" || fail "ls shows the Work volume: $(cat "$here/out")"
  grep -q '^DF0 .*Floppy' "$here/out" || fail "ls shows the empty floppy drive"
  dm ls Work:Fixed | undated >"$here/fixed.amiga" || fail "ls Work:Fixed"

  for size in "${sizes[@]}"; do
    dm put "$here/local/f$size.bin" Work: || fail "put $size bytes"
    dm get "Work:f$size.bin" "$here/back/f$size.bin" || fail "get $size bytes"
    cmp -s "$here/local/f$size.bin" "$here/served/f$size.bin" || fail "$size bytes stored different"
    cmp -s "$here/local/f$size.bin" "$here/back/f$size.bin" || fail "$size bytes came back different"
  done
  dm put -r "$here/local/tree" Work: || fail "put -r"
  dm get -r Work:tree "$here/back" || fail "get -r"
  diff -r "$here/local/tree" "$here/back/tree" >/dev/null || fail "get -r brought back another tree"
  diff -r -x '*.uaem' "$here/local/tree" "$here/served/tree" >/dev/null || fail "put -r stored another tree"

  dm mkdir Work:Dest || fail "mkdir"
  dm cp Work:tree Work:Dest || fail "cp of a drawer"
  diff -r -x '*.uaem' "$here/local/tree" "$here/served/Dest/tree" >/dev/null || fail "cp copied another tree"
  dm mv Work:f509.bin Work:Dest || fail "mv"
  [ -e "$here/served/Dest/f509.bin" ] && [ ! -e "$here/served/f509.bin" ] || fail "mv did not move"
  dm rename Work:readme.txt notes.txt || fail "rename"
  [ -e "$here/served/notes.txt" ] || fail "rename did not rename"
  dm protect Work:notes.txt -d || fail "protect"
  dm comment Work:notes.txt "kept safe" || fail "comment"
  dm ls Work: >"$here/out" || fail "ls Work:"
  grep -q '^notes.txt .* RWE  *kept safe$' "$here/out" || fail "ls shows protection and comment: $(cat "$here/out")"
  dm rm Work:notes.txt 2>"$here/err" && fail "a delete-protected file was deleted"
  grep -q 'protected from deletion' "$here/err" || fail "the refusal does not say why: $(cat "$here/err")"
  dm count Work:Dest >"$here/out" || fail "count"
  grep -q '^3 drawers, 3 files, 2513 bytes' "$here/out" || fail "count: $(cat "$here/out")"
  dm rm -r Work:Dest || fail "rm -r"
  [ ! -e "$here/served/Dest" ] || fail "rm -r left the drawer"

  # Walks as deep as a path goes, on the small stack a Shell of Kickstart 1.x gives.
  dm count Work:Deep >"$here/out" || fail "count of a deep drawer"
  grep -q '^100 drawers, 1 files, 5 bytes' "$here/out" || fail "count of a deep drawer: $(cat "$here/out")"
  dm mkdir Work:Copies && dm cp Work:Deep Work:Copies || fail "cp of a deep drawer"
  cmp -s "$here/served/Deep/$deep/leaf" "$here/served/Copies/Deep/$deep/leaf" || fail "cp lost the deepest file"
  dm rm -r Work:Copies || fail "rm -r of a deep drawer"
  [ ! -e "$here/served/Copies" ] || fail "rm -r left the deep drawer"

  tcp() { timeout 120 "$cli" --port "$DROVEMARK_AMIGA_TCP_PORT" "$@" </dev/null; }
  tcp ls >"$here/out" 2>&1 || fail "ls over TCP/IP: $(cat "$here/out")"
  grep -q '^Work .*Volume' "$here/out" || fail "ls over TCP/IP shows the Work volume: $(cat "$here/out")"
  cp "$here/local/f12000.bin" "$here/local/net.bin"
  tcp put "$here/local/net.bin" Work: || fail "put over TCP/IP"
  tcp get Work:net.bin "$here/back/net.bin" || fail "get over TCP/IP"
  cmp -s "$here/local/net.bin" "$here/back/net.bin" || fail "TCP/IP brought back another file"
  tcp --password Vormantik ls Work: >"$here/out" 2>&1 && fail "a wrong password was let in"
  grep -q 'handshaking failed' "$here/out" || fail "the refusal does not say why: $(cat "$here/out")"
  tcp --password Vormantik rm Work:net.bin 2>/dev/null
  [ -e "$here/served/net.bin" ] || fail "a wrong password deleted a file"

  head -c 400000 /dev/urandom >"$here/local/big.bin"
  "$cli" --port "$DROVEMARK_AMIGA_TCP_PORT" put "$here/local/big.bin" Work: </dev/null 2>/dev/null &
  upload=$!
  for _ in $(seq 400); do compgen -G "$here/served/.drovemark-*" >/dev/null && break; sleep 0.05; done
  kill -9 $upload
  wait $upload 2>/dev/null && fail "the upload ended before its connection was dropped"
  tcp ls Work: >"$here/out" 2>&1 || fail "a new connection after a dropped one: $(cat "$here/out")"
  ! grep -q big.bin "$here/out" && [ ! -e "$here/served/big.bin" ] ||
    fail "a dropped upload left big.bin behind"
  compgen -G "$here/served/.drovemark-*" >/dev/null && fail "a dropped upload left its temporary"
  tcp put "$here/local/big.bin" Work: || fail "put after a dropped connection"
  cmp -s "$here/local/big.bin" "$here/served/big.bin" || fail "the upload after the drop differs"
  return $failures
}

export DROVEMARK_AMIGA_TCP=1
in_amiga "$model" "$program" session model cli sizes deep
status=$?

# The same folder through amiga-peer: the same listing.
"$peer" --volume DH0:Work="$here/served" --listen 127.0.0.1:0 --port-file "$here/port" >"$here/peer.log" 2>&1 &
peer_pid=$!
for _ in $(seq 50); do [ -s "$here/port" ] && break; sleep 0.1; done
timeout 60 "$cli" --port "$(cat "$here/port")" ls Work:Fixed | undated >"$here/fixed.peer"
kill $peer_pid; wait $peer_pid 2>/dev/null
if ! diff "$here/fixed.peer" "$here/fixed.amiga"; then
  fail "the listing differs from amiga-peer's"
  status=1
fi
exit $status
