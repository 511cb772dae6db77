# Sourced by the emulator tests: a scratch folder $here whose served/ is the Amiga's Work volume,
# fail to count a failure, and in_amiga to run a function inside the booted emulator.
set -uo pipefail
tools=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../tools" && pwd)
here=$(mktemp -d "${TMPDIR:-/tmp}/drovemark-emu-XXXXXX")
export XDG_RUNTIME_DIR=$here TZ=UTC
trap 'rm -rf "$here"' EXIT
mkdir -p "$here/served" "$here/back"
failures=0

fail() { echo "FAIL${model:+ ($model)}: $*" >&2; failures=$((failures + 1)); }

# in_amiga MODEL PROGRAM FUNCTION [VARIABLE...]: boots MODEL running PROGRAM and runs FUNCTION
# there, with every function defined so far and the named variables; its status is FUNCTION's.
in_amiga() {
  local start status
  start=$(date +%s)
  "$tools/with-amiga" "$1" "$2" "$here/served" \
    bash -c "$(declare -p here failures "${@:4}"); $(declare -f); $3"
  status=$?
  echo "$1: $3 in the emulator $(( $(date +%s) - start )) s"
  return $status
}
