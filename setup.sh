#!/bin/sh
# Builds Quorvex Server Config Creator and starts it (run), or builds it twice and runs
# every test (test) against the real game server: once with GCC, once with Clang under
# AddressSanitizer and UndefinedBehaviorSanitizer, where a bounded fuzzing run joins the tests,
# then once for Windows, whose tests run under Wine. Or builds it for Windows alone and makes
# the zip that a Windows user unpacks and runs (windows).
# Installs the Debian packages each needs when they are missing: as root directly, as any
# other user through sudo, so that the build and the program run as that user.
set -eu
cd "$(dirname "$0")"

case "${1:-}" in
run) packages="cmake make g++ qt6-base-dev zlib1g-dev fonts-dejavu-core help2man" ;;
test) packages="cmake make g++ qt6-base-dev zlib1g-dev fonts-dejavu-core help2man clang-14 libclang-rt-14-dev ioquake3-server dpkg-dev file desktop-file-utils appstream g++-mingw-w64-x86-64-posix wine64 ninja-build xvfb xdotool imagemagick procps systemd" ;;
windows) packages="cmake qt6-base-dev dpkg-dev g++-mingw-w64-x86-64-posix ninja-build" ;;
*)
    echo "usage: $0 run|test|windows" >&2
    exit 2
    ;;
esac

as_root=""
[ "$(id -u)" -eq 0 ] || as_root=sudo

missing=""
for package in $packages; do
    dpkg-query -W -f '${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing="$missing $package"
done
if [ -n "$missing" ]; then
    $as_root apt-get update
    $as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing
fi

if [ "$1" = windows ]; then
    windows/build.sh
    exec cpack --config build-windows/project/CPackConfig.cmake -B build-windows/package
fi

jobs="$(nproc)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --parallel "$jobs"

if [ "$1" = run ]; then
    exec build/src/app/quorvex-config-creator
fi

export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure --parallel "$jobs"

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++-14 -DQUORVEX_SANITIZE=ON
cmake --build build-sanitize --parallel "$jobs"
UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir build-sanitize --output-on-failure --parallel "$jobs"

windows/leg.sh
