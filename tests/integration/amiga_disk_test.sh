#!/usr/bin/env bash
# Our Drovemark on an emulated Amiga with a disk in DF0:, driven by the command-line client: the
# disk read whole as its ADF item byte for byte, another disk image written back (and read back
# by the Amiga before it says yes), then a quick FFS format that AmigaDOS mounts under its new name.
#   amiga_disk_test.sh PROGRAM CLI
program=$1
cli=$2
model=disks
source "$(dirname "$0")/amiga_emulator_rig.sh"

session() {
  # A whole disk's image takes over a minute each way; anything else a few seconds.
  dm() { run 60 "$@"; }
  dm_image() { run 240 "$@"; }
  run() {
    local limit=$1
    shift
    echo "[$(date +%T)] $*" >>"$here/client.log"
    timeout "$limit" "$cli" --serial "$DROVEMARK_LINE" --baud 115200 --packet-size 8192 \
      --log "$here/client.log" "$@" </dev/null
  }

  dm ls >"$here/out" 2>&1 || fail "ls: $(cat "$here/out")"
  grep -Eq '^DF0\.adf +880KB +ADF File' "$here/out" || fail "ls shows the disk's image: $(cat "$here/out")"
  grep -q '^Kickstart.*ROM File' "$here/out" || fail "ls shows the ROM: $(cat "$here/out")"
  dm_image get DF0.adf "$here/back.adf" || fail "get of the disk image"
  cmp -s "$here/first.adf" "$here/back.adf" || fail "the disk came back different"
  dm_image --yes put "$here/second.adf" DF0.adf || fail "put of another disk image"
  dm --yes --quick --ffs --bootable format DF0: Fresh || fail "format"
  dm ls >"$here/out" 2>&1 || fail "ls after format"
  grep -Eq '^Fresh +.*Floppy' "$here/out" || fail "the new volume is not mounted: $(cat "$here/out")"
  grep -q '^Fresh\.adf' "$here/out" || fail "the image is not named after the new volume"
  dm ls Fresh: >"$here/out" 2>&1 || fail "ls of the new volume: $(cat "$here/out")"
  ! grep -qv '^Name ' "$here/out" || fail "the new volume is not empty: $(cat "$here/out")"
  return $failures
}

attempt() {
  head -c 901120 /dev/urandom >"$here/disk.adf"
  cp "$here/disk.adf" "$here/first.adf"
  head -c 901120 /dev/urandom >"$here/second.adf"
  export DROVEMARK_AMIGA_FLOPPY=$here/disk.adf DROVEMARK_AMIGA_ARGS="BAUD=115200 BUFFER=8192"
  in_amiga a1200 "$program" session model cli
  local status=$?
  # What the emulator wrote through to the image file: the boot block and the root block's name.
  [ "$(head -c 4 "$here/disk.adf" | od -An -tx1 | tr -d ' ')" = 444f5301 ] ||
    { fail "the disk file has no FFS boot block"; status=1; }
  [ "$(dd if="$here/disk.adf" bs=1 skip=$((880 * 512 + 433)) count=5 2>/dev/null)" = Fresh ] ||
    { fail "the disk file has no root block named Fresh"; status=1; }
  if [ $status -ne 0 ]; then
    echo "disks: the client's log ends:" >&2
    grep -v '^[<>] ' "$here/client.log" | tail -25 >&2
  fi
  return $status
}

# The emulated Amiga now and then stops in its disk handling for good (in the middle of a track
# write, or in the file system's remount after a format): ctest runs this through
# on_a_fresh_boot.sh, which gives a failed session a second boot.
attempt
