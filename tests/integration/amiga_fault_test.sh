#!/usr/bin/env bash
# The PC side's line fault classes against our Drovemark on an emulated A1200: a faulty relay
# sits between the client's pty and the emulator's serial socket, and every upload, download
# and listing must complete with every byte right.
#   amiga_fault_test.sh PROGRAM CLI RELAY
set -uo pipefail
FAULT_CLASSES=${FAULT_CLASSES:-} FAULT_WAYS=${FAULT_WAYS:-} FAULT_LOGS=${FAULT_LOGS:-}
program=$1
cli=$2
relay=$3
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
here=$(mktemp -d "${TMPDIR:-/tmp}/drovemark-faults-XXXXXX")
export XDG_RUNTIME_DIR=$here TZ=UTC
trap 'rm -rf "$here"' EXIT
mkdir -p "$here/served/many" "$here/back"
for i in $(seq 30); do printf x >"$here/served/many/entry-with-a-longish-name-$i"; done
head -c 4000 /dev/urandom >"$here/data.bin"
export cli relay here FAULT_CLASSES FAULT_WAYS FAULT_LOGS

faults() {
  failures=0
  line=$here/faulty
  classes=("damaged=0.02" "lost=0.01" "drop=0.005" "bits=0.00001" "damaged=0.02,lost=0.01,drop=0.005,bits=0.00001")
  [ -n "${FAULT_CLASSES:-}" ] && read -ra classes <<<"$FAULT_CLASSES"
  kill "$DROVEMARK_RELAY_PID" 2>/dev/null
  seed=1
  for way in ${FAULT_WAYS:---to-pc --to-amiga}; do
    for class in "${classes[@]}"; do
      seed=$((seed + 1))
      "$relay" "$line" "$DROVEMARK_AMIGA_PORT" --faults "$class" --seed $seed "$way" &
      relay_pid=$!
      for _ in $(seq 50); do [ -e "$line" ] && break; sleep 0.1; done
      name="up$seed.bin"
      cp "$here/data.bin" "$here/$name"
      timeout 120 "$cli" --serial "$line" ${FAULT_LOGS:+--log "$FAULT_LOGS/$seed-put.log"} put "$here/$name" "Work:" </dev/null 2>"$here/err" &&
        cmp -s "$here/data.bin" "$here/served/$name" ||
        { echo "FAIL: put with $class $way: $(cat "$here/err")" >&2; failures=$((failures + 1)); }
      rm -f "$here/back/$name"
      if timeout 120 "$cli" --serial "$line" ${FAULT_LOGS:+--log "$FAULT_LOGS/$seed-get.log"} get "Work:$name" "$here/back/$name" </dev/null 2>"$here/err"; then
        cmp -s "$here/data.bin" "$here/back/$name" || { echo "FAIL: get with $class $way brought other bytes" >&2; failures=$((failures + 1)); }
      else
        echo "FAIL: get with $class $way: $(cat "$here/err")" >&2; failures=$((failures + 1))
      fi
      count=$(timeout 120 "$cli" --serial "$line" ${FAULT_LOGS:+--log "$FAULT_LOGS/$seed-ls.log"} ls Work:many </dev/null 2>"$here/err" | grep -c entry-with)
      [ "$count" = 30 ] || { echo "FAIL: ls with $class $way: $count entries $(cat "$here/err")" >&2; failures=$((failures + 1)); }
      kill $relay_pid; wait $relay_pid 2>/dev/null
      rm -f "$line"
    done
  done
  return $failures
}

start=$(date +%s)
"$tools/with-amiga" a1200 "$program" "$here/served" bash -c "$(declare -f faults); faults"
status=$?
echo "fault classes against the emulated Amiga: $(( $(date +%s) - start )) s"
exit $status
