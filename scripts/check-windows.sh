#!/usr/bin/env bash
# Checks that the sources are ready for a Windows build: every .cpp file of
# src/ and tools/ (or of the folders given) compiles with the MinGW-w64 cross
# compiler in its POSIX-threads variant (std::mutex), syntax only, against
# Debian's Qt headers. The headers of SQLite, mosquitto and libcurl are
# portable; copies of them from the Debian -dev packages are searched after
# the compiler's own (-idirafter), so that a POSIX-only header such as
# sys/socket.h is still missing, as on Windows.
#
#   scripts/check-windows.sh            src/ and tools/
#   scripts/check-windows.sh src/mqtt   only these folders
#
# Files named *_posix.cpp are the POSIX side of a platform pair and are
# skipped; their *_win.cpp partners are checked. Prints one line per failing
# file with its first error, keeps the full messages in a temporary folder
# (named at the end), and exits non-zero when a file fails. Needs Debian's
# g++-mingw-w64-x86-64 (scripts/install-deps.sh installs it).
set -euo pipefail
cd "$(dirname "$0")/.."

cxx=x86_64-w64-mingw32-g++-posix
command -v "$cxx" >/dev/null || { echo "$cxx is missing (Debian: g++-mingw-w64-x86-64)" >&2; exit 2; }
qt=$(pkg-config --variable=includedir Qt6Core 2>/dev/null || true)
[ -d "$qt/QtCore" ] || { echo "Qt 6 headers not found (Debian: qt6-base-dev)" >&2; exit 2; }

work=$(mktemp -d /tmp/qx7-windows.XXXXXX)
mkdir -p "$work/include" "$work/generated" "$work/log"

# The portable headers of the libraries, from the Debian -dev packages.
for h in sqlite3.h sqlite3ext.h mosquitto.h mqtt_protocol.h; do
    [ -f "/usr/include/$h" ] && cp "/usr/include/$h" "$work/include/"
done
for d in /usr/include/curl /usr/include/*/curl; do
    [ -d "$d" ] && cp -r "$d" "$work/include/" && break
done

# The header that CMake generates into the build tree.
version=$(sed -n 's/^project([a-z0-9]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
sed "s/@PROJECT_VERSION@/$version/" src/AppVersion.h.in >"$work/generated/AppVersion.h"

# -Wno-attributes: the Linux build of the Qt headers meets the dllimport of
# Windows with a warning on every file.
flags=(-std=c++20 -Wno-attributes -DUNICODE -D_UNICODE -DQT_NO_CAST_FROM_BYTEARRAY
    -Isrc -I"$work/generated" -I"$qt")
for m in "$qt"/Qt*; do flags+=(-I"$m"); done
flags+=(-idirafter "$work/include")

# The Qt headers nearly every file includes, parsed once into a precompiled
# header that each compile starts from: a third of the time. (A source that
# forgets one of them is still caught by the real build.)
printf '#include <%s>\n' QtCore/QObject QtCore/QString QtCore/QStringList QtCore/QDateTime \
    QtCore/QTimer QtCore/QVariant QtCore/QHash QtCore/QMap QtWidgets/QWidget \
    QtWidgets/QLineEdit QtWidgets/QPushButton >"$work/qt.h"
"$cxx" "${flags[@]}" -x c++-header "$work/qt.h" -o "$work/qt.h.gch"
flags+=(-fsyntax-only -include "$work/qt.h")

folders=("$@")
[ ${#folders[@]} -eq 0 ] && folders=(src tools)
mapfile -t files < <(git ls-files -- "${folders[@]}" | grep '\.cpp$' | grep -v '_posix\.cpp$')
[ ${#files[@]} -ne 0 ] || { echo "no .cpp file in ${folders[*]}" >&2; exit 2; }

# One compile per file, two at a time; a file's messages go to log/<path>.
export cxx work
check() {
    local log="$work/log/${1//\//_}.txt"
    local dir
    dir=$(dirname "$1")
    if "$cxx" "${@:2}" -I"$dir" "$1" >"$log" 2>&1; then
        rm -f "$log"
    fi
}
export -f check
printf '%s\n' "${files[@]}" | xargs -P "$(nproc)" -I{} bash -c 'check "$@"' _ {} "${flags[@]}"

rm -f "$work/qt.h.gch"
failed=()
for f in "${files[@]}"; do
    log="$work/log/${f//\//_}.txt"
    if [ -f "$log" ]; then
        failed+=("$f")
        first=$(grep -m1 -E 'error|fatal' "$log" || head -n1 "$log")
        echo "FAIL $f"
        echo "     ${first#"$PWD/"}"
    fi
done
passed=$((${#files[@]} - ${#failed[@]}))
echo "windows: $passed of ${#files[@]} files compile with $cxx (${folders[*]})"
if [ ${#failed[@]} -ne 0 ]; then
    echo "full messages: $work/log"
    exit 1
fi
rm -rf "$work"
