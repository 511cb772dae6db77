#!/usr/bin/env bash
# Runs Windows test programs one after another, each limited to the flows named for it, against
# the one Amiga the surrounding wrapper started (tools/with-peer --our-amiga).
#   explorer_flows.sh WINE-RUN PROGRAM FILTER [PROGRAM FILTER]...
set -uo pipefail
run=$1
shift
status=0
while [ $# -ge 2 ]; do
  "$run" "$1" --gtest_filter="$2" --gtest_brief=1 || status=1
  shift 2
done
exit $status
