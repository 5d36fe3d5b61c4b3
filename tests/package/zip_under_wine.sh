#!/bin/sh
# Uses the Windows zip as an operator would, under Wine on an X server of its own: unpacks
# it into an empty folder, starts the program in a fresh Wine prefix with no search path,
# types the two paths and a server name, clicks Create Config and Run Config, then closes
# the window with Alt+F4. Checks the script's bytes, the start of a Windows stand-in
# quake3.exe (its arguments and working folder), the warning when that stand-in stops at
# once, and the paths the program leaves in the registry. Then uses the command line from
# cmd and, in a terminal, from Wine's console: its accents, its Ctrl+C, and a command line
# too long to pass on, given by the launcher long_line. Keeps a screenshot of the filled
# window in the build folder, as zip-under-wine.png.
set -eu
build=$1
stand_in=$2
long_line=$3
work=$(mktemp -d)
xvfb=""
cleanup() {
    WINEPREFIX="$work/wine" /usr/lib/wine/wineserver -k 2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    wait
    rm -rf "$work"
}
trap cleanup EXIT

test_name=zip-under-wine
. "$(dirname "$0")/../support/x11.sh"

# A Unix path as a Windows program sees it, on Wine's drive Z:.
windows() { printf 'Z:%s' "$1" | tr / '\\'; }

. "$(dirname "$0")/packages.sh"
zip=$(make_package ZIP "$build" "$work/package")
program="$(unpack_zip "$zip" "$work/unpacked")/quorvex-config-creator.exe"

# A game folder with spaces in its name, whose quake3.exe is the stand-in, a Windows program
# that writes its working folder (with forward slashes) and arguments, a line each, into
# the records folder, and whose baseq3 folder holds the form's first map and another in
# capitals, which Windows finds in any case.
game="$work/Quake III Arena"
mkdir -p "$game/arena" "$game/baseq3/maps" "$work/records"
for map in quorvexmap1.bsp Q3DM17.BSP; do
    { printf 'IBSP\056\000\000\000'; head -c 200 /dev/zero; } >"$game/baseq3/maps/$map"
done
cp "$stand_in" "$game/quake3.exe"
for dll in Qt6Core.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
    cp "$(dirname "$program")/$dll" "$game/"
done
windows "$work/records" >"$game/records.path"

start_xvfb || fail "Xvfb did not start"

export WINEPREFIX="$work/wine" WINEDEBUG=-all WINEPATH="" WINEDLLOVERRIDES="mscoree,mshtml="
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
(cd "$work" && exec /usr/lib/wine/wine64 "$program" >"$work/program.log" 2>&1) &
wine=$!
find_window
type_into 200 16 "Zip Arena"
type_into 220 464 "$(windows "$game")"
type_into 220 488 "$(windows "$work/my server.cfg")"
sleep 0.5
import -display "$DISPLAY" -window root "$build/zip-under-wine.png"

# The server name shows in its box: some of the box's inside is dark.
import -display "$DISPLAY" -window "$window" "$work/window.png"
inked=$(convert "$work/window.png" -crop 320x13+108+11 -colorspace Gray -threshold 50% \
    -format '%[fx:mean < 0.99]' info:)
[ "$inked" = 1 ] || fail "the server name is not drawn in its box"

# Create Config writes the script, each line ending in CR LF.
click 160 432
wait_for '[ -s "$work/my server.cfg" ]'
sleep 0.5
grep -q "$(printf '^set sv_hostname "Zip Arena"\r$')" "$work/my server.cfg" ||
    fail "the script lacks the server name"
[ "$(tr -cd '\n' <"$work/my server.cfg" | wc -c)" = "$(tr -cd '\r' <"$work/my server.cfg" | wc -c)" ] ||
    fail "not every line of the script ends in CR LF"
[ "$(grep -c "$(printf '\r$')" "$work/my server.cfg")" = "$(grep -c '' "$work/my server.cfg")" ] ||
    fail "a line of the script does not end in CR LF"

# Run Config installs it as arena\conf<N>.cfg and starts quake3.exe in the game folder.
click 256 432
wait_for 'ls "$work/records" | grep -q "^launch\.[0-9]*$"'
record="$work/records/$(ls "$work/records" | grep "^launch\.[0-9]*$")"
number=$(ls "$game/arena" | sed -n 's/^conf\([0-9]*\)\.cfg$/\1/p')
[ -n "$number" ] || fail "no script in the arena folder: $(ls "$game/arena")"
cmp -s "$work/my server.cfg" "$game/arena/conf$number.cfg" || fail "the installed script differs"
expected="Z:$game
+set
fs_game
arena
+set
sv_pure
0
+set
bot_enable
0
+set
dedicated
2
+set
net_port
27960
+exec
conf$number"
[ "$(cat "$record")" = "$expected" ] || fail "the server started as: $(cat "$record")"
# Windows passes the command line as one string: the program, then one space before each
# argument.
line="$work/records/commandline.${record##*.}"
expected="\"$(windows "$game")\\quake3.exe\" +set fs_game arena +set sv_pure 0 +set bot_enable 0 \
+set dedicated 2 +set net_port 27960 +exec conf$number"
[ "$(cat "$line")" = "$expected" ] || fail "the server's command line was: $(cat "$line")"

# The stand-in ends at once, which the start's watch reports in a box of its own.
box=""
wait_for 'box=$(xdotool search --onlyvisible --name "^Run Config$" 2>/dev/null | head -n 1); [ -n "$box" ]'
xdotool windowfocus --sync "$box" key Return
wait_for '! xdotool search --onlyvisible --name "^Run Config$" >/dev/null 2>&1'

# Closing the window saves both paths in the registry.
xdotool windowfocus --sync "$window" key alt+F4
wait_for '! kill -0 "$wine" 2>/dev/null'
stored=$(/usr/lib/wine/wine64 reg query 'HKEY_CURRENT_USER\Software\VELDORIQUE\OPTIONS' | tr -d '\r')
printf "%s\n" "$stored" | grep -qF "Q3DIR    REG_SZ    $(windows "$game")" || fail "registry holds: $stored"
printf "%s\n" "$stored" | grep -qF "SAVECFG    REG_SZ    $(windows "$work/my server.cfg")" ||
    fail "registry holds: $stored"
# The window's module loads from the program's folder only: a copy of the program alone,
# started in the folder that holds the module, says that the module cannot be loaded in a
# small box of its own rather than show the window from the module found there.
mkdir "$work/alone"
cp "$program" "$work/alone/"
(cd "$(dirname "$program")" && exec /usr/lib/wine/wine64 "$work/alone/$(basename "$program")" \
    >"$work/alone.log" 2>&1) &
alone=$!
box=""
wait_for 'box=$(xdotool search --onlyvisible --name "^Quorvex Server Config Creator$" 2>/dev/null | head -n 1); [ -n "$box" ]'
height=$(xdotool getwindowgeometry --shell "$box" | sed -n 's/^HEIGHT=//p')
[ "$height" -lt 300 ] || fail "a copy of the program alone loaded the window's module from the current folder"
xdotool windowfocus --sync "$box" key Return
wait_for '! kill -0 "$alone" 2>/dev/null'

# In a console, a command runs the console companion quorvex-config-creator.com, which cmd
# finds before the .exe for the bare name: it prints there, and cmd waits for it and takes
# its exit status.
cp "$work/my server.cfg" "$work/zip.cfg"
console() { (cd "$(dirname "$program")" && /usr/lib/wine/wine64 cmd /v:on /c "$1" 2>&1 | tr -d '\r'); }
said=$(console 'quorvex-config-creator --version & echo status !ERRORLEVEL!')
[ "$said" = "$(printf 'quorvex-config-creator 1.0.0\nstatus 0')" ] || fail "--version said: $said"
said=$(console "quorvex-config-creator show $(windows "$work/zip.cfg")")
printf '%s\n' "$said" | grep -qx -- '--server-name="Zip Arena"' || fail "show said: $said"
# A hand-written script written back keeps what the form does not carry, and its rotation.
printf 'set g_password "oldpass"\r\nset d1 "map q3dm1; set nextmap vstr d2"\r\nset d2 "map q3dm7; set nextmap vstr d1"\r\nvstr d1\r\n' >"$work/hand.cfg"
said=$(console "quorvex-config-creator create --from $(windows "$work/hand.cfg") --server-name Handmade & echo status !ERRORLEVEL!")
printf '%s\n' "$said" | tail -n 1 | grep -qx 'status 0' || fail "create --from said: $said"
grep -q '^set g_password "oldpass"' "$work/hand.cfg" && grep -q '^vstr d1' "$work/hand.cfg" &&
    grep -q '^set sv_hostname "Handmade"' "$work/hand.cfg" || fail "written back: $(cat "$work/hand.cfg")"
said=$(console "quorvex-config-creator show $(windows "$work/hand.cfg")")
printf '%s\n' "$said" | grep -qx -- '--rotation=q3dm7' || fail "show of a rotation said: $said"
said=$(console 'quorvex-config-creator creat & echo status !ERRORLEVEL!')
printf '%s\n' "$said" | tail -n 1 | grep -qx 'status 2' || fail "a wrong command said: $said"

# The servers' life from the console companion, given its arguments one by one: a stand-in
# that answers as its script sets it is started, shown, refused a second start beside,
# replaced and stopped, through the remote console's quit as the script sets a password.
com="$(dirname "$program")/quorvex-config-creator.com"
# Into a file: a server started under Wine keeps the Unix descriptors of the program that
# started it, and a pipe would stay open for as long as the server runs.
companion() {
    set +e
    (cd "$work" && /usr/lib/wine/wine64 "$com" "$@") >"$work/companion.log" 2>&1
    echo "status $?" >>"$work/companion.log"
    set -e
    tr -d '\r' <"$work/companion.log"
}
touch "$work/records/answer"
printf 'set rconPassword "s3cret"\r\n' >>"$work/zip.cfg"
set -- --game-dir "$(windows "$game")" --output "$(windows "$work/zip.cfg")"
said=$(companion run "$@")
printf '%s\n' "$said" | tail -n 1 | grep -qx 'status 0' || fail "run said: $said"
said=$(companion status)
for line in '  name: Zip Arena' '  port: UDP 27960' 'status 0'; do
    printf '%s\n' "$said" | grep -qxF -- "$line" || fail "status said: $said"
done
first=$(printf '%s\n' "$said" | sed -n 's/^Server of process \([0-9]*\),.*/\1/p')
said=$(companion run "$@")
printf '%s\n' "$said" | grep -q 'already holds UDP port 27960' &&
    printf '%s\n' "$said" | tail -n 1 | grep -qx 'status 1' || fail "a second run said: $said"
said=$(companion run --replace "$@")
printf '%s\n' "$said" | tail -n 1 | grep -qx 'status 0' || fail "run --replace said: $said"
said=$(companion status --json)
printf '%s\n' "$said" | grep -q '"pid": [0-9]' && ! printf '%s\n' "$said" | grep -q "\"pid\": $first," ||
    fail "after run --replace, status said: $said"
second=$(printf '%s\n' "$said" | sed -n 's/.*"pid": \([0-9]*\),.*/\1/p')
# The game tree's maps, and a replace whose map the tree lacks, which leaves the server be.
said=$(companion maps --game-dir "$(windows "$game")")
printf '%s\n' "$said" | grep -qxF "Q3DM17       $(windows "$game")\\baseq3\\maps\\Q3DM17.bsp (a loose file, which clients cannot download)" &&
    printf '%s\n' "$said" | grep -q '^quorvexmap1  ' || fail "maps said: $said"
sed 's/^map quorvexmap1/map q3dm71/' "$work/zip.cfg" >"$work/typo.cfg"
said=$(companion run --replace --game-dir "$(windows "$game")" --output "$(windows "$work/typo.cfg")")
printf '%s\n' "$said" | grep -qE -- '^typo\.cfg line [0-9]+: the server cannot find the map "q3dm71"' &&
    printf '%s\n' "$said" | grep -qF 'did you mean Q3DM17?' &&
    printf '%s\n' "$said" | tail -n 1 | grep -qx 'status 1' || fail "a run on a missing map said: $said"
companion status --json | grep -q "\"pid\": $second," || fail "a refused replace stopped the server"
# A replace whose new server ends at its start brings the one it stopped back.
touch "$work/records/fail"
said=$(companion run --replace "$@")
printf '%s\n' "$said" | grep -q '^Stopped "Zip Arena" on ' &&
    printf '%s\n' "$said" | grep -qE 'The game server stopped within (a second|[0-9]+ seconds) of its start: it exited with status 3\.' &&
    printf '%s\n' "$said" | grep -qF ', runs again and answers as before.' &&
    printf '%s\n' "$said" | tail -n 1 | grep -qx 'status 1' || fail "a replace that failed said: $said"
companion status | grep -qxF '  name: Zip Arena' || fail "the replaced server was not brought back"
# Its remote console over UDP, the password read from its script: a reply of two packets,
# and the players read from it.
said=$(companion rcon status)
printf '%s\n' "$said" | grep -qF ' 11     5    9 redfox  loopback 3000' &&
    printf '%s\n' "$said" | tail -n 1 | grep -qx 'status 0' || fail "rcon status said: $said"
said=$(companion players)
printf '%s\n' "$said" | grep -qxF ' 1  A Name with spaces  score -3  ping CNCT  [::1]:27962  rate 90000' ||
    fail "players said: $said"
# A second stand-in on a port of its own, in the foreground of a companion of its own: status
# shows both, and a stop of that port alone ends the wait with 0.
(cd "$work" && /usr/lib/wine/wine64 "$com" run --wait --port 27961 "$@" >"$work/wait.log" 2>&1
    echo "status $?" >>"$work/wait.log") &
waiting=$!
wait_for 'companion status --port 27961 | grep -qxF "  port: UDP 27961"'
companion status | grep -qxF '  port: UDP 27960' || fail "the server on port 27960 went"
said=$(companion stop --port 27961)
printf '%s\n' "$said" | grep -q 'on UDP port 27961' &&
    printf '%s\n' "$said" | tail -n 1 | grep -qx 'status 0' || fail "stop --port said: $said"
wait_for '! kill -0 $waiting 2>/dev/null'
tr -d '\r' <"$work/wait.log" | tail -n 1 | grep -qx 'status 0' ||
    fail "run --wait said: $(cat "$work/wait.log")"
# Kept up on 27961 by run --wait --restart=on-failure: the stand-in, once crashed, is started
# again and answers, which the wait tells, and status does not again; a stop ends both, and
# the wait with 0.
(cd "$work" && /usr/lib/wine/wine64 "$com" run --wait --restart=on-failure --port 27961 "$@" \
    >"$work/restart.log" 2>&1
    echo "status $?" >>"$work/restart.log") &
waiting=$!
wait_for 'companion status --port 27961 --json | grep -q "\"restarts\": 0"'
# Wine gives status 0 to a program that taskkill /F or SIGKILL ends, which on-failure rightly
# leaves down, so the stand-in crashes instead, at the next status query.
touch "$work/records/crash.27961"
told=""
wait_for 'told="$told$(companion status --port 27961 --json)"; printf "%s" "$told" | grep -q "\"restarts\": 1"'
! printf '%s\n' "$told" | grep -q 'starts it again' || fail "status told the restart: $told"
said=$(companion stop --port 27961)
printf '%s\n' "$said" | grep -q "and the tool's process [0-9]* that restarted it" &&
    printf '%s\n' "$said" | tail -n 1 | grep -qx 'status 0' || fail "stop of a kept server said: $said"
wait_for '! kill -0 $waiting 2>/dev/null'
tr -d '\r' <"$work/restart.log" | tail -n 1 | grep -qx 'status 0' &&
    grep -q 'the tool starts it again in 1 s, as --restart=on-failure asks' "$work/restart.log" ||
    fail "run --wait --restart said: $(cat "$work/restart.log")"
# Without --wait, a process of the tool's own, with no console, keeps it up: the crash is
# told once by status, and stop ends that process first.
said=$(companion run --restart=on-failure --port 27961 "$@")
printf '%s\n' "$said" | grep -q "^The tool's process [0-9]* stays with it" &&
    printf '%s\n' "$said" | tail -n 1 | grep -qx 'status 0' || fail "run --restart said: $said"
touch "$work/records/crash.27961"
told=""
wait_for 'told="$told$(companion status --port 27961 --json)"; printf "%s" "$told" | grep -q "\"restarts\": 1"'
[ "$(printf '%s\n' "$told" | grep -c 'the tool starts it again in 1 s')" = 1 ] ||
    fail "the kept server's restart was told as: $told"
said=$(companion stop --port 27961)
printf '%s\n' "$said" | grep -q "and the tool's process [0-9]* that restarted it" &&
    printf '%s\n' "$said" | tail -n 1 | grep -qx 'status 0' || fail "stop of a kept server said: $said"
# service writes a Task Scheduler definition, in UTF-16; its action, run as written from a
# batch file, starts the server on its port in the foreground, kept up, which stop ends with
# 0; --remove takes the definition away. Wine's schtasks fails now and then when its service
# is new, so the task itself is not created here.
said=$(companion service --port 27962 "$@")
printf '%s\n' "$said" | grep -q '^  schtasks /Create /F /TN quorvex-27962 /XML ' &&
    printf '%s\n' "$said" | tail -n 1 | grep -qx 'status 0' || fail "service said: $said"
definition=$(/usr/lib/wine/wine64 winepath -u "$(printf '%s\n' "$said" |
    sed -n 's/^Wrote the task definition "\(.*\)"\.$/\1/p')" 2>/dev/null | tr -d '\r')
xml=$(iconv -f UTF-16 -t UTF-8 "$definition" | tr -d '\r')
field() { printf '%s\n' "$xml" | sed -n "s:.*<$1>\(.*\)</$1>.*:\1:p" | sed 's/&quot;/"/g; s/&amp;/\&/g'; }
[ "$(field Arguments)" = "run --wait --restart=on-failure --game-dir \"$(windows "$game")\" --output $(windows "$work/zip.cfg") --port 27962" ] &&
    [ "$(field Command)" = "$(windows "${com%/*}")\\quorvex-config-creator.com" ] ||
    fail "the task definition holds: $xml"
printf '"%s" %s\r\n' "$(field Command)" "$(field Arguments)" >"$work/task.bat"
(cd "$work" && /usr/lib/wine/wine64 cmd /c "$(windows "$work/task.bat")" >"$work/task.log" 2>&1
    echo "status $?" >>"$work/task.log") &
waiting=$!
wait_for 'companion status --port 27962 --json | grep -q "\"policy\": \"on-failure\""'
said=$(companion stop --port 27962)
printf '%s\n' "$said" | tail -n 1 | grep -qx 'status 0' || fail "stop of the task's server said: $said"
wait_for '! kill -0 $waiting 2>/dev/null'
tr -d '\r' <"$work/task.log" | tail -n 1 | grep -qx 'status 0' ||
    fail "the task's command said: $(cat "$work/task.log")"
said=$(companion service --remove --port 27962)
printf '%s\n' "$said" | grep -q '^Removed the definition of quorvex-27962' && [ ! -e "$definition" ] ||
    fail "service --remove said: $said"
said=$(companion stop)
printf '%s\n' "$said" | grep -q '^Stopped "Zip Arena" on ' &&
    printf '%s\n' "$said" | tail -n 1 | grep -qx 'status 0' || fail "stop said: $said"
said=$(companion status)
[ "$said" = "$(printf 'No server that this tool started is running.\nstatus 3')" ] ||
    fail "status after stop said: $said"
[ "$(ls "$work/records" | grep -c '^quit\.')" = 7 ] ||
    fail "the stand-ins were not stopped through the remote console: $(ls "$work/records")"
rm "$work/records/answer"

# In a terminal, Wine's console shows the program's text in the terminal's characters, and
# passes the terminal's Ctrl+C on. Its own cursor and title sequences are left out here.
in_terminal() {
    script -qec "/usr/lib/wine/wine64 '$com' $1" /dev/null
}
plain() { tr -d '\r' | sed 's/\x1b\[[0-9;?]*[A-Za-z]//g; s/\x1b\][^\x07]*\x07//g'; }
printf 'set sv_hostname "Caf\351"\r\nmap q3dm1\r\n' >"$work/accent.cfg"
said=$(in_terminal "show '$(windows "$work/accent.cfg")'" </dev/null | plain)
printf '%s\n' "$said" | grep -q -- '--server-name=Café$' || fail "show in a console said: $said"

# Ctrl+C while run waits for a stand-in that never answers: the program stops it, and the
# companion waits and ends with the program's status.
touch "$work/records/silent"
launches() { ls "$work/records" | grep -c '^launch\.[0-9]*$' || true; }
before=$(launches)
mkfifo "$work/keys"
(
    set +e
    in_terminal "run --game-dir '$(windows "$game")' --output '$(windows "$work/zip.cfg")'" \
        <"$work/keys" >"$work/interrupted.log" 2>&1
    echo $? >"$work/interrupted.status"
) &
exec 4>"$work/keys"
wait_for '[ "$(launches)" -gt "$before" ]'
sleep 1
printf '\003' >&4
wait_for '[ -s "$work/interrupted.status" ]'
exec 4>&-
rm "$work/records/silent"
said=$(plain <"$work/interrupted.log")
[ "$(cat "$work/interrupted.status")" = 130 ] ||
    fail "an interrupted run ended with $(cat "$work/interrupted.status"): $said"
printf '%s\n' "$said" | grep -q 'Interrupted\. The tool stopped the new server\.' ||
    fail "an interrupted run said: $said"
! pgrep -f "$(basename "$work").Quake III Arena.quake3\.exe" >/dev/null ||
    fail "the interrupted run left its stand-in running"

# A command line of the longest length Windows passes cannot be passed on with the
# program's path before it, and the companion says so.
set +e
(cd "$work" && /usr/lib/wine/wine64 "$long_line" "$(windows "$com")") >"$work/long.log" 2>&1
status=$?
set -e
said=$(plain <"$work/long.log")
[ "$status" = 1 ] || fail "a too long command line ended with $status: $said"
printf '%s\n' "$said" | grep -q 'the command line is too long to pass on' ||
    fail "a too long command line said: $said"
echo "zip_under_wine: $(basename "$zip") works; screenshot in $build/zip-under-wine.png"
