#!/bin/sh
# Builds the Debian package from a build folder and checks what it carries: the program,
# a valid desktop entry and AppStream metadata, the manual page, icons whose sizes match
# their folders, and dependencies on the Qt libraries the program links.
set -eu
build=$1
id=com.veldorique.QuorvexConfigCreator
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/packages.sh"

deb=$(make_package DEB "$build" "$work/package")
dpkg-deb -x "$deb" "$work/root"
share="$work/root/usr/share"

test -x "$work/root/usr/bin/quorvex-config-creator"
# The window's module, where the program's run path finds it.
test -f "$work/root/usr/lib/quorvex-config-creator/quorvex-config-creator-window.so"
desktop-file-validate "$share/applications/$id.desktop"
appstreamcli validate --no-net "$share/metainfo/$id.metainfo.xml"
test -f "$share/icons/hicolor/scalable/apps/quorvex-config-creator.svg"
grep -q "^.SH SYNOPSIS" "$share/man/man1/quorvex-config-creator.1"
grep -q '^.SS status$' "$share/man/man1/quorvex-config-creator.1"

# The shell completion, sourced as bash does and asked for the last of the words given.
completion="$share/bash-completion/completions/quorvex-config-creator"
completed() {
    bash -c '. "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
             _quorvex_config_creator; printf "%s\n" "${COMPREPLY[@]}"' sh "$completion" \
        quorvex-config-creator "$@"
}
mkdir "$work/games"
touch "$work/games.cfg"
for case in "cr|create" "create --ser|--server-name" "stop --|--help --game-dir" \
    "run --game-dir $work/gam|$work/games" "show $work/games.|$work/games.cfg"; do
    said=$(completed ${case%|*} | tr '\n' ' ')
    [ "$said" = "${case#*|} " ] || { echo "'${case%|*}' completes as '$said'" >&2; exit 1; }
done

icons=0
for png in "$share"/icons/hicolor/*/apps/*.png; do
    folder=$(basename "$(dirname "$(dirname "$png")")")
    # Width and height stand as big-endian 32-bit numbers at bytes 16 to 23 of a PNG.
    size=$(od -An -tu1 -j16 -N8 "$png" |
        awk '{ printf "%dx%d", $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }')
    if [ "$size" != "$folder" ]; then
        echo "$png is $size, not $folder" >&2
        exit 1
    fi
    icons=$((icons + 1))
done
test "$icons" -ge 2

depends=$(dpkg-deb -f "$deb" Depends)
for package in libc6 libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins; do
    case ", $depends," in
    *", $package"[\ ,]*) ;;
    *)
        echo "Depends lacks $package: $depends" >&2
        exit 1
        ;;
    esac
done
echo "$(basename "$deb"): $depends"
