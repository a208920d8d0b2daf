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

# The Windows tree whose tests this machine can run: TAVELKIN_TEST_ARCH=i686 or
# x86_64 forces one; otherwise i686 where 32-bit code runs.
windows_test_tree() {
    case "${TAVELKIN_TEST_ARCH:-auto}" in
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
    return 1
}

stop_xvfb() {
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
    XVFB_PID=
}

# The product's C and C++ sources, which follow .clang-format.
product_sources() {
    git -C "$TAVELKIN_ROOT" ls-files -- app display dialog framework memtrack res tools | grep -E '\.(c|cpp|h)$' |
        sed "s|^|$TAVELKIN_ROOT/|"
}
