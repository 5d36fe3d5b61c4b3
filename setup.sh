#!/bin/sh
# Builds Quorvex Server Config Creator and starts it (run) or runs every test (test).
# Installs the Debian packages the build needs when they are missing.
set -eu
cd "$(dirname "$0")"

case "${1:-}" in
run | test) ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac

packages="cmake make g++ qt6-base-dev fonts-dejavu-core"
missing=""
for package in $packages; do
    dpkg-query -W -f '${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing="$missing $package"
done
if [ -n "$missing" ]; then
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --parallel "$(nproc)"

if [ "$1" = run ]; then
    exec build/src/quorvex-config-creator
fi
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)"
