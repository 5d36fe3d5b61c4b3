#!/bin/sh
# Cross-builds Qt's Core, Gui, Widgets, Network and Test libraries for Windows from Debian's
# own qt6-base source, with Debian's patches applied, using the host's Qt tools. The result
# is kept in the user's cache, named after the Qt version and the build options, so every
# clone on the machine shares it. Prints the folder of the finished Qt.
# A build counts as finished only once its stamp is written; an interrupted one is redone.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
version=$(dpkg-query -W -f '${source:Version}' qt6-base-dev)

# What the program and its tests need, and nothing that only lengthens the build. Debian's
# source leaves out the Wintab headers, so tablet events are off.
options="-DCMAKE_BUILD_TYPE=Release -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
-DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF
-DFEATURE_openssl=OFF -DFEATURE_tabletevent=OFF -DINPUT_opengl=no -DFEATURE_vulkan=OFF
-DFEATURE_printsupport=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF -DFEATURE_ico=OFF
-DFEATURE_directwrite3=OFF -DFEATURE_direct2d=OFF"
digest=$(printf '%s\n' "$options" | cat - "$here/mingw-w64-x86_64.cmake" | sha256sum | cut -c1-12)
cache="${XDG_CACHE_HOME:-${HOME:?is unset, and so is XDG_CACHE_HOME: Qt's cache needs one}/.cache}"
prefix="$cache/quorvex-config-creator/qt-$version-win64-$digest"

if [ -f "$prefix/.built" ]; then
    echo "$prefix"
    exit 0
fi

work="$prefix.work"
rm -rf "$work" "$prefix"
mkdir -p "$work/apt/parts" "$work/apt/lists/partial" "$work/apt/cache/archives/partial"
cd "$work"

# Runs a step with its output in a log; on failure, shows the end of that log.
step() {
    log=$1
    shift
    if ! "$@" >"$log" 2>&1; then
        echo "windows/build-qt.sh: '$*' failed; the end of $work/$log:" >&2
        tail -n 40 "$log" >&2
        exit 1
    fi
}

# Source lines for the release's own archive sections, in a private apt configuration that
# leaves the system's untouched.
. /etc/os-release
for list in /etc/apt/sources.list.d/*.sources; do
    [ -f "$list" ] || continue
    awk -v RS= -v ORS='\n\n' -v codename="$VERSION_CODENAME" '
        $0 ~ "(^|\n)Types:.*deb" && $0 ~ "(^|\n)Suites:.*[ \t]" codename "([ \t\n-]|$)" {
            sub(/Types:[^\n]*/, "Types: deb-src"); print
        }' "$list"
done >apt/parts/source.sources
for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$list" ] || continue
    awk -v codename="$VERSION_CODENAME" '
        $1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ "^" codename "(-|$)") {
            $1 = "deb-src"; print; next } }' "$list"
done >apt/parts/source.list
apt_get() {
    apt-get -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$work/apt/parts" \
        -o Dir::State::Lists="$work/apt/lists" -o Dir::Cache="$work/apt/cache" \
        -o APT::Sandbox::User="$(id -un)" "$@"
}
step apt-update.log apt_get update
step apt-source.log apt_get source --download-only "qt6-base=$version"
step unpack.log dpkg-source -x qt6-base_*.dsc source

step configure.log cmake -S source -B build -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$here/mingw-w64-x86_64.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$multiarch/cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix" $options
step build.log cmake --build build --parallel "$(nproc)"
step install.log cmake --install build
touch "$prefix/.built"
cd /
rm -rf "$work"
echo "$prefix"
