# Shared by the scripts: where things are, and how Wine and Xvfb are started.
TAVELKIN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$TAVELKIN_ROOT/build}
WINE32_LOADER=/usr/lib/wine/wine
WINE64_LOADER=/usr/lib/wine/wine64
WINESERVER_PROGRAM=/usr/lib/wine/wineserver64

# Machine type of a PE file: i686 or x86_64.
pe_arch() {
    local off machine
    off=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    machine=$(od -An -tx2 -j$((off + 4)) -N2 "$1" | tr -d ' ')
    case "$machine" in
        014c) echo i686 ;;
        8664) echo x86_64 ;;
        *) echo unknown ;;
    esac
}

# Some virtual machines (PVM guests among them) cannot execute 32-bit x86 code
# at all; there the Windows tests run in the 64-bit build instead.
win32_code_runs() {
    [ -x "$WINE32_LOADER" ] || return 1
    timeout 20 "$WINE32_LOADER" --version >/dev/null 2>&1
}

# The Windows tree that scripts/run and scripts/test use: TAVELKIN_ARCH=i686 or
# x86_64 forces one; otherwise i686 where 32-bit code runs.
windows_test_tree() {
    case "${TAVELKIN_ARCH:-auto}" in
        i686) echo "$BUILD_DIR/windows" ;;
        x86_64) echo "$BUILD_DIR/windows64" ;;
        *) if win32_code_runs; then echo "$BUILD_DIR/windows"; else echo "$BUILD_DIR/windows64"; fi ;;
    esac
}

# Starts a private Xvfb on a free display and exports DISPLAY; XVFB_PID is set.
start_xvfb() {
    local n=${1:-90}
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && return 0
        sleep 0.1
    done
    echo "Xvfb did not start on :$n" >&2
    stop_xvfb
    return 1
}

stop_xvfb() {
    if [ -n "${XVFB_PID:-}" ]; then
        kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
    fi
    XVFB_PID=
}

# Configures a build tree once (host, or windows / windows64 with their toolchain), then builds the
# given targets, or everything.
build_tree() {
    local dir=$1; shift
    local toolchain=
    case $(basename "$dir") in
        windows) toolchain=$TAVELKIN_ROOT/cmake/toolchain-i686-w64-mingw32.cmake ;;
        windows64) toolchain=$TAVELKIN_ROOT/cmake/toolchain-x86_64-w64-mingw32.cmake ;;
    esac
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$TAVELKIN_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            ${toolchain:+-DCMAKE_TOOLCHAIN_FILE="$toolchain"} >/dev/null
    fi
    cmake --build "$dir" -j "${JOBS:-$(nproc)}" ${1:+--target "$@"}
}

# The C and C++ sources of the product and its tests, which follow .clang-format.
styled_sources() {
    git -C "$TAVELKIN_ROOT" ls-files -- app display dialog framework memtrack res tools tests |
        grep -E '\.(c|cpp|h)$' | sed "s|^|$TAVELKIN_ROOT/|"
}
