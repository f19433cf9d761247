#!/usr/bin/env bash
# Installs what the build and the tests need. Quick and quiet when all is there.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

SUDO=""
[ "$(id -u)" = 0 ] || SUDO="sudo"

need_apt=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

packages=(cmake ninja-build g++ googletest libgtest-dev sqlite3
          g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
          wine wine32:i386 xvfb imagemagick x11-utils python3 clang libclang-rt-dev
          zip wixl msitools python3-markdown faketime)
for p in "${packages[@]}"; do have_pkg "$p" || need_apt+=("$p"); done

if [ ${#need_apt[@]} -gt 0 ]; then
    echo "setup: installing ${need_apt[*]}"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $SUDO dpkg --add-architecture i386
    fi
    $SUDO apt-get update -q
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${need_apt[@]}"
fi

# SQLite's amalgamation for the Windows build, taken from the npm package that
# ships it; unpacked under third_party/ (ignored by git), never committed.
sqlite_dir="$here/third_party/sqlite"
if [ ! -f "$sqlite_dir/sqlite3.c" ]; then
    if ! command -v npm >/dev/null; then
        $SUDO apt-get update -q
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends npm
    fi
    tmp=$(mktemp -d)
    (cd "$tmp" && npm pack --silent better-sqlite3@12 >/dev/null && tar xzf better-sqlite3-*.tgz)
    mkdir -p "$sqlite_dir"
    src="$tmp/package/deps/sqlite3"
    if [ -f "$src/sqlite3.c" ]; then
        cp "$src/sqlite3.c" "$src/sqlite3.h" "$sqlite_dir/"
    else
        echo "setup: the sqlite amalgamation was not found in the npm package" >&2
        exit 1
    fi
    rm -rf "$tmp"
fi
echo "setup: ready"
