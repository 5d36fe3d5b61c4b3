# Shared by the package tests, which source it.

# Makes the package of a cpack generator (DEB, ZIP) from a build folder in a folder of its
# own, and prints its path; when cpack fails, shows its output and fails.
make_package() {
    mkdir -p "$3"
    if ! cpack --config "$2/CPackConfig.cmake" -G "$1" -B "$3" >"$3/cpack.log" 2>&1; then
        cat "$3/cpack.log" >&2
        return 1
    fi
    ls "$3"/*."$(echo "$1" | tr 'A-Z' 'a-z')"
}

# Unpacks a zip into an empty folder and prints the path of the one folder it holds.
unpack_zip() {
    mkdir "$2"
    (cd "$2" && cmake -E tar xf "$1")
    echo "$2/$(basename "$1" .zip)"
}
