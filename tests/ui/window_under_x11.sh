#!/bin/sh
# Uses the window as a person does, on an X server of its own, where the map list is a
# pop-up that grabs the mouse as it does on a desktop: types a map that the game tree
# holds into Initial Map, so that the list opens and closes under the box, clicks Create
# Config once and finds the config file written. Then opens the list again with part of a
# name, clicks into the Server Name box and types there, opens the list once more and
# clicks Create Config, which must write again with both. Last, opens a hand-written script
# from the command line, changes Server Name and clicks Create Config: the script must differ
# only on that line. Keeps screenshots in the build folder as window-under-x11-*.png. Skips
# (77) where no X server can start.
set -eu
program=$1
build=$2
work=$(mktemp -d)
xvfb=""
app=""
cleanup() {
    [ -z "$app" ] || kill "$app" 2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    wait
    rm -rf "$work"
}
trap cleanup EXIT

test_name=window-under-x11
. "$(dirname "$0")/../support/x11.sh"
for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
start_xvfb || { echo "skipped: Xvfb did not start"; exit 77; }

# A game tree with two maps, and the paths saved as the window saves them.
game="$work/game"
mkdir -p "$game/arena" "$game/baseq3/maps" "$work/config" "$work/state"
for map in aggressor aggressor2; do
    { printf 'IBSP\056\000\000\000'; head -c 200 /dev/zero; } >"$game/baseq3/maps/$map.bsp"
done
printf '[OPTIONS]\nQ3DIR=%s\nSAVECFG=%s\n' "$game" "$work/server.cfg" >"$work/config/VELDORIQUE.conf"
env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY HOME="$work" XDG_CONFIG_HOME="$work/config" \
    XDG_STATE_HOME="$work/state" QT_QPA_PLATFORM=xcb "$program" >"$work/program.log" 2>&1 &
app=$!
find_window

# The list offers both maps while the name is typed, and closes once it names one in full.
type_into 304 401 aggressor
sleep 0.5
import -display "$DISPLAY" -window root "$build/window-under-x11-typed.png"
click 160 432
wait_for '[ -s "$work/server.cfg" ]'
grep -q "$(printf '^map aggressor\r$')" "$work/server.cfg" || fail "the script does not load aggressor"

# With the list open over part of a name, one click in another box takes the typing, and
# then, with the list open again, one click on Create Config writes.
rm "$work/server.cfg"
type_into 304 401 aggr
sleep 0.5
import -display "$DISPLAY" -window root "$build/window-under-x11-open.png"
click 200 16
xdotool type --delay 40 "Open List"
click 304 401
xdotool key --clearmodifiers End BackSpace
sleep 0.5
click 160 432
wait_for '[ -s "$work/server.cfg" ]'
grep -q "$(printf '^map agg\r$')" "$work/server.cfg" || fail "the script does not load agg"
grep -q "$(printf '^set sv_hostname "Open List"\r$')" "$work/server.cfg" ||
    fail "the server name did not reach its box"

# A hand-written script written back with one box changed differs only on that line.
kill "$app"
wait "$app" 2>/dev/null || true
printf '// Friday FFA - hand edited\n\nseta sv_hostname "Friday" // the name\nseta g_gametype 0 /* ffa */\nexec bans\nmap aggressor\n' >"$work/hand.cfg"
sed 's/"Friday"/"Edited"/' "$work/hand.cfg" >"$work/expected.cfg"
env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY HOME="$work" XDG_CONFIG_HOME="$work/config" \
    XDG_STATE_HOME="$work/state" QT_QPA_PLATFORM=xcb "$program" "$work/hand.cfg" >"$work/program.log" 2>&1 &
app=$!
# The box that names the commands the form does not carry comes first.
wait_for '[ "$(xdotool search --onlyvisible --name "^Open Script$" 2>/dev/null | wc -l)" -gt 0 ]'
import -display "$DISPLAY" -window root "$build/window-under-x11-opened.png"
xdotool windowfocus --sync "$(xdotool search --onlyvisible --name "^Open Script$" | head -n 1)"
xdotool key --clearmodifiers Return
find_window
type_into 200 16 Edited
click 160 432
wait_for 'cmp -s "$work/hand.cfg" "$work/expected.cfg"'
echo "passed: one click writes the config file, with the map list open or not, and a script written back changes only its changed line"
