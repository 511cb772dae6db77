# Scene: the settings sheet (each page), "What's This?" help on one of its controls, and the
# General page of the drawer Docs, each photographed and closed again.

# The sheet window of that title, once it shows.
sheet_window() {
  for _ in $(seq 40); do
    xdotool search --name "^$1\$" 2>/dev/null | head -n1 | grep . && return 0
    sleep 0.25
  done
  return 1
}

step "opening the settings sheet as the Start menu's shortcut does (rundll32 ShowProperties)"
folder=$(wine reg query 'HKLM\SOFTWARE\Quenzor\Drovemark\2005.0' /v Path 2>/dev/null |
         tr -d '\r' | sed -n 's/^ *Path *REG_SZ *//p')
[ -n "$folder" ] || fail "no installation folder in the registry"
setsid env -u LC_ALL -u LC_NUMERIC -u LC_TIME LANG=en_US.UTF-8 "$root/tools/wine-native" \
  explorer /desktop=Drovemark,1024x768 rundll32 "${folder%\\}\\drovemark.dll,ShowProperties" \
  >>"$out/wine.log" 2>&1 &
sheet_pid=$!
sheet=$(sheet_window "Drovemark Properties") || { shot failed; fail "the settings sheet did not open"; }
xdotool windowactivate --sync "$sheet" >/dev/null 2>&1
settle
shot settings-connection
# Wine puts the sheet at the desktop's top left corner: its tabs and boxes are where a user
# clicks them there.
click_at() { xdotool mousemove --window "$desk" "$1" "$2" click 1; sleep 0.3; }
click_at 113 39
settle
shot settings-options
# F1 in the packet size box: its help pops up next to it.
click_at 260 92
xdotool key F1
settle
shot help-popup
xdotool key Escape
sleep 0.5
click_at 168 39
settle
shot settings-about
xdotool key Escape
wait "$sheet_pid" 2>/dev/null

step "the General page of the drawer Docs"
# A click on the empty part of the list leaves nothing selected (an earlier scene may have left a
# file selected): Properties is then the drawer's own.
xdotool mousemove --window "$desk" 600 500 click 1
sleep 0.5
probe command 156 >>"$out/wine.log" || fail "could not ask the view for Properties"
page=$(sheet_window "Docs Properties") || { shot failed; fail "the General page of Docs did not open"; }
xdotool windowactivate --sync "$page" >/dev/null 2>&1
settle
shot item-general
xdotool key Escape
sleep 0.5
