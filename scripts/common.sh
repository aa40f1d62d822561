# Shared by the README's commands: installing what is missing, building, and
# the project's own Wine prefix. Source it; it changes nothing by itself.

TARN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TARN_BUILD="${TARN_BUILD:-$TARN_ROOT/build}"

# Debian packages the build, the tests and the benchmarks need.
TARN_PACKAGES=(
    cmake ninja-build python3
    mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix googletest
    wine wine64 xvfb xauth locales
    gcab cabextract nginx-light curl
    libz-mingw-w64-dev
)

tarn_log() { printf '== %s\n' "$*" >&2; }

tarn_install_packages() {
    local missing=() package
    for package in "${TARN_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { tarn_log "missing packages (run as root): ${missing[*]}"; return 1; }
        sudo=(sudo)
    fi
    tarn_log "installing ${missing[*]}"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
        "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            "${missing[@]}" >/dev/null
}

tarn_build() {
    if [ ! -f "$TARN_BUILD/build.ninja" ]; then
        cmake -S "$TARN_ROOT" -B "$TARN_BUILD" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$TARN_ROOT/cmake/mingw-w64-x86_64.cmake" "$@" || return 1
    fi
    cmake --build "$TARN_BUILD"
}

# The environment of every Wine run: our own prefix, quiet, German code pages.
tarn_wine_env() {
    export WINEPREFIX="$TARN_BUILD/wineprefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    # The host may lack this locale; the build makes one of its own (see
    # tests/CMakeLists.txt). Wine takes its code pages from the name alone.
    [ -d "$TARN_BUILD/locale/de_DE.UTF-8" ] && export LOCPATH="$TARN_BUILD/locale"
    { export LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8; } 2>/dev/null
}

# A display for windows and message boxes where none is set. Xvfb picks a
# free display number itself, so parallel runs do not collide.
tarn_start_display() {
    [ -n "${DISPLAY:-}" ] && return 0
    local numberFile i
    numberFile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$numberFile" >/dev/null 2>&1 &
    TARN_XVFB_PID=$!
    for i in $(seq 100); do
        if [ -s "$numberFile" ]; then
            export DISPLAY=":$(tr -d '[:space:]' <"$numberFile")"
            rm -f "$numberFile"
            return 0
        fi
        sleep 0.1
    done
    rm -f "$numberFile"
    tarn_log "no Xvfb display could be started"
    return 1
}

# Makes the prefix once per build folder and keeps one Wine server running
# until tarn_stop_wine.
tarn_start_wine() {
    tarn_wine_env
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        tarn_log "making the Wine prefix $WINEPREFIX"
        wineboot -i >/dev/null 2>&1
        wineserver -w
    fi
    # The Desktop known folder must exist, or "%Desktop%" expands to nothing.
    mkdir -p "$WINEPREFIX/drive_c/users/$(id -un)/Desktop"
    wineserver -p 2>/dev/null || true  # a server of this prefix may already run
    # Bring up Wine's service processes now, detached from any caller's output.
    wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}

tarn_stop_wine() {
    wineserver -k 2>/dev/null || true
    [ -n "${TARN_XVFB_PID:-}" ] && kill "$TARN_XVFB_PID" 2>/dev/null
    return 0
}
