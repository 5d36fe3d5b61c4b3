#!/bin/sh
# The Windows leg of the tests: checks every source against MinGW-w64, cross-builds Qt's
# Core, Network and Test from Debian's source once (kept in build-windows/qt), then the
# core library and its unit tests, and runs those under Wine in a prefix of their own.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
out="$root/build-windows"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)

windows/syntax-check.sh
windows/build-qt.sh "$out/qt"

cmake -S . -B "$out/project" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/windows/mingw-w64-x86_64.cmake" \
    -DCMAKE_PREFIX_PATH="$out/qt" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$multiarch/cmake" \
    -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/lib/wine/wine64 \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEX_WINDOW=OFF
cmake --build "$out/project" --parallel "$(nproc)"

# The programs find Qt's and the compiler's libraries through Wine's search path.
runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
export WINEPREFIX="$out/wine" WINEDEBUG=-all
export WINEPATH="Z:$out/qt/bin;Z:$runtime;Z:/usr/x86_64-w64-mingw32/lib"
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
ctest --test-dir "$out/project" --output-on-failure
