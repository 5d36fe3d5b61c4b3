# Shared by the tests that drive a window on an X server of their own, as a person does.
# The sourcing script sets test_name, build (where screenshots go) and work (its folder).

# Says what failed, keeps a screenshot of the screen as $build/$test_name-failed.png, and
# ends the test.
fail() {
    printf '%s: %s\n' "$test_name" "$*" >&2
    import -display "$DISPLAY" -window root "$build/$test_name-failed.png" 2>/dev/null || true
    exit 1
}

# Waits up to 20 seconds, or the seconds given second, for a shell condition.
wait_for() {
    tries=0
    until eval "$1"; do
        tries=$((tries + 1))
        [ "$tries" -lt $((${2:-20} * 10)) ] || fail "gave up waiting for: $1"
        sleep 0.1
    done
}

# Starts an X server of the test's own, with its process in xvfb and DISPLAY exported;
# fails where none starts within 10 seconds.
start_xvfb() {
    Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
    xvfb=$!
    tries=0
    until [ -s "$work/display" ]; do
        tries=$((tries + 1))
        kill -0 "$xvfb" 2>/dev/null && [ "$tries" -lt 100 ] || return 1
        sleep 0.1
    done
    export DISPLAY=":$(cat "$work/display")"
}

# Waits for the tool's window, keeps its id in window and gives it the focus. A first start
# builds the fonts' cache, which a sanitized build on a busy machine takes long over.
find_window() {
    window=""
    wait_for 'window=$(xdotool search --onlyvisible --name "^Quorvex Server Config Creator$" 2>/dev/null | head -n 1); [ -n "$window" ]' 90
    xdotool windowfocus --sync "$window"
}

# Clicks at a point of the window's client area, in pixels, and types text into the box
# found there in place of what it held.
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
type_into() {
    click "$1" "$2"
    xdotool key --clearmodifiers ctrl+a
    xdotool type --delay 40 "$3"
}
