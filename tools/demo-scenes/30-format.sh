# shellcheck shell=bash
# The Format dialog of the floppy drive DF0 and the first message of Setup, each photographed on
# Explorer's desktop and closed again without formatting or sending anything.
window_shown() { # TITLE: waits until a top-level window has that title
  for _ in $(seq 40); do
    probe windows | grep -qF $'\t'"$1" && return 0
    sleep 0.25
  done
  return 1
}
window_gone() {
  for _ in $(seq 40); do
    probe windows | grep -qF $'\t'"$1" || return 0
    sleep 0.25
  done
  return 1
}

step "going up to the Amiga folder's root"
# Explorer's Up button, twice: Docs, Work, the root.
for _ in 1 2; do
  xdotool mousemove --window "$desk" 76 37 click 1
  sleep 1
done
wait_for_item DF0 || { shot failed; fail "the root with DF0 did not come back"; }
at=$(probe locate DF0) || fail "Explorer did not show DF0"
# shellcheck disable=SC2086
xdotool mousemove --window "$desk" $at click 1
sleep 0.5

step "showing the Format dialog of DF0"
probe command 157 || fail "the view did not take the Format command"
window_shown "Format DF0" || { shot failed; fail "the Format dialog of DF0 did not appear"; }
settle
shot format-dialog
probe press "Format DF0" 2 || fail "could not close the Format dialog"
window_gone "Format DF0" || { shot failed; fail "the Format dialog did not close"; }

# The demonstration's Amiga is reached over TCP/IP: Setup says it needs the serial cable, and
# sends nothing.
step "starting Setup"
probe setup >>"$out/wine.log" &
setup_pid=$!
window_shown "Drovemark Setup" || { shot failed; fail "Setup showed no message"; }
settle
shot setup-message
probe press "Drovemark Setup" 1 || fail "could not close Setup's message"
wait "$setup_pid" || fail "Setup did not end cleanly"

step "back to the drawer Docs"
open_item Work || fail "could not open Work"
wait_for_item Docs || { shot failed; fail "the volume Work did not show its drawers"; }
open_item Docs || fail "could not open Docs"
wait_for_item Letter.txt || { shot failed; fail "the drawer Docs did not show its files"; }
settle
