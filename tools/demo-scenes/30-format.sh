# shellcheck shell=bash
# The Format dialog of the floppy drive DF0 and the first message of Setup, each photographed on
# Explorer's desktop and closed again without formatting or sending anything.
step "showing the Format dialog of DF0"
probe format DF0 >>"$out/wine.log" &
format_pid=$!
for _ in $(seq 40); do
  probe windows | grep -q $'\tFormat DF0$' && break
  sleep 0.25
done
probe windows | grep -q $'\tFormat DF0$' || { shot failed; fail "the Format dialog of DF0 did not appear"; }
settle
shot format-dialog
probe press "Format DF0" 2 || fail "could not close the Format dialog"
wait "$format_pid" || fail "the Format dialog did not close cleanly"

# The demonstration's Amiga is reached over TCP/IP: Setup says it needs the serial cable, and
# sends nothing.
step "starting Setup"
probe setup >>"$out/wine.log" &
setup_pid=$!
for _ in $(seq 40); do
  probe windows | grep -q $'\tDrovemark Setup$' && break
  sleep 0.25
done
probe windows | grep -q $'\tDrovemark Setup$' || { shot failed; fail "Setup showed no message"; }
settle
shot setup-message
probe press "Drovemark Setup" 1 || fail "could not close Setup's message"
wait "$setup_pid" || fail "Setup did not end cleanly"
