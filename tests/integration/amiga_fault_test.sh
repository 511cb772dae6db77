#!/usr/bin/env bash
# The PC side's line fault classes against our Drovemark on an emulated A1200: a faulty relay
# sits between the client's pty and the emulator's serial socket, and every upload, download
# and listing must complete with every byte right.
#   amiga_fault_test.sh PROGRAM CLI RELAY
# FAULT_CLASSES, FAULT_WAYS and FAULT_LOGS (a folder for the client's logs) narrow a run down.
program=$1
cli=$2
relay=$3
FAULT_CLASSES=${FAULT_CLASSES:-} FAULT_WAYS=${FAULT_WAYS:-} FAULT_LOGS=${FAULT_LOGS:-}
source "$(dirname "$0")/amiga_emulator_rig.sh"

mkdir -p "$here/served/many"
for i in $(seq 30); do printf x >"$here/served/many/entry-with-a-longish-name-$i"; done
head -c 4000 /dev/urandom >"$here/data.bin"

faults() {
  line=$here/faulty
  classes=("damaged=0.02" "lost=0.01" "drop=0.005" "bits=0.00001" "damaged=0.02,lost=0.01,drop=0.005,bits=0.00001")
  [ -n "$FAULT_CLASSES" ] && read -ra classes <<<"$FAULT_CLASSES"
  kill "$DROVEMARK_RELAY_PID" 2>/dev/null
  seed=1
  for way in ${FAULT_WAYS:---to-pc --to-amiga}; do
    for class in "${classes[@]}"; do
      seed=$((seed + 1))
      "$relay" "$line" "$DROVEMARK_AMIGA_PORT" --faults "$class" --seed $seed "$way" &
      relay_pid=$!
      for _ in $(seq 50); do [ -e "$line" ] && break; sleep 0.1; done
      dm() { timeout 120 "$cli" --serial "$line" ${FAULT_LOGS:+--log "$FAULT_LOGS/$seed-$1.log"} "$@" </dev/null 2>"$here/err"; }
      name="up$seed.bin"
      cp "$here/data.bin" "$here/$name"
      dm put "$here/$name" "Work:" && cmp -s "$here/data.bin" "$here/served/$name" ||
        fail "put with $class $way: $(cat "$here/err")"
      if dm get "Work:$name" "$here/back/$name"; then
        cmp -s "$here/data.bin" "$here/back/$name" || fail "get with $class $way brought other bytes"
      else
        fail "get with $class $way: $(cat "$here/err")"
      fi
      count=$(dm ls Work:many | grep -c entry-with)
      [ "$count" = 30 ] || fail "ls with $class $way: $count entries $(cat "$here/err")"
      kill $relay_pid; wait $relay_pid 2>/dev/null
      rm -f "$line"
    done
  done
  return $failures
}

in_amiga a1200 "$program" faults cli relay FAULT_CLASSES FAULT_WAYS FAULT_LOGS
