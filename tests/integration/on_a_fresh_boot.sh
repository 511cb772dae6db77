#!/usr/bin/env bash
# Runs a flow against the emulated Amiga (CMD boots it) and, when the flow fails, once more on a
# fresh boot. The emulator's AROS now and then stops in its disk handling for good (in the middle
# of a track write); a fault of ours that comes back still fails the second run. Each run is held
# to LIMIT seconds, since a stopped Amiga makes every later request wait out its time-out.
#   on_a_fresh_boot.sh LIMIT CMD...
set -uo pipefail
limit=$1
shift
timeout -k 10 "$limit" "$@"
status=$?
[ $status -eq 0 ] || [ $status -eq 77 ] && exit $status
echo "the flow above failed (exit $status); once more on a fresh boot" >&2
timeout -k 10 "$limit" "$@"
