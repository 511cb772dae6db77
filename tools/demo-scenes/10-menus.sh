# shellcheck shell=bash
# The item menu, the background menu and an in-place rename in Explorer's list of Docs: each is
# photographed and closed again without changing anything.
at=$(probe locate Letter.txt) || fail "Explorer did not show Letter.txt"
read -r menu_x menu_y <<<"$at"

step "the item menu of Letter.txt"
xdotool mousemove --window "$desk" "$menu_x" "$menu_y" click 1
sleep 0.5
xdotool mousemove --window "$desk" "$menu_x" "$menu_y" click 3
sleep 1
shot amiga-item-menu
xdotool key Escape
sleep 0.5

step "the background menu of Docs"
# Well below the three rows: a click there clears the selection, the right click asks for the
# menu of the drawer itself.
xdotool mousemove --window "$desk" "$menu_x" $((menu_y + 160)) click 1
sleep 0.5
xdotool mousemove --window "$desk" "$menu_x" $((menu_y + 160)) click 3
sleep 1
shot amiga-background-menu
xdotool key Escape
sleep 0.5

step "renaming Letter.txt in place"
xdotool mousemove --window "$desk" "$menu_x" "$menu_y" click 1
sleep 0.5
xdotool mousemove --window "$desk" "$menu_x" "$menu_y" click 3
sleep 1
# "Rena&me" of the item menu opens the edit box; Escape leaves the name as it was.
xdotool key m
sleep 1
xdotool type --delay 60 "Letter to"
sleep 0.5
shot amiga-rename
xdotool key Escape
sleep 0.5
wait_for_item Letter.txt || fail "Letter.txt lost its name although the rename was cancelled"
