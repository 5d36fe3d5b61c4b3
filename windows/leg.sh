#!/bin/sh
# The Windows leg of the tests: checks every source against MinGW-w64, builds the program
# and all its tests for Windows, and runs those under Wine in a prefix of their own: the
# unit tests, the window's tests on Qt's offscreen platform, and the zip that cpack makes,
# used on an X server of its own.
set -eu
cd "$(dirname "$0")/.."
out="$(pwd)/build-windows"

windows/syntax-check.sh
windows/build.sh

# The test programs find Qt's and the compiler's libraries through Wine's search path, and
# the offscreen platform its fonts in the folder named by a Windows path (Wine hands it to
# them as QT_QPA_FONTDIR).
qt=$(windows/build-qt.sh)
runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
export WINEPREFIX="$out/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPATH="Z:$qt/bin;Z:$runtime;Z:/usr/x86_64-w64-mingw32/lib"
export WINEQT_QPA_FONTDIR='Z:\usr\share\fonts\truetype\dejavu'
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
ctest --test-dir "$out/project" --output-on-failure --parallel "$(nproc)"
