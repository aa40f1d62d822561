# Shared by the README's commands: installing what is missing, building, and
# the project's own Wine prefix. Source it; it changes nothing by itself.

TARN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TARN_BUILD="${TARN_BUILD:-$TARN_ROOT/build}"

# Debian packages the build, the tests and the benchmarks need.
TARN_PACKAGES=(
    cmake ninja-build python3
    mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix googletest
    wine wine64 xvfb xauth locales ccache
    gcab cabextract nginx-light curl openssl squid osslsigncode
    libz-mingw-w64-dev
    python3-pil fonts-dejavu-core
    clang libclang-rt-14-dev zlib1g-dev
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
    # The compiler cache keys on paths relative to the checkout, so clones and
    # worktrees share its entries.
    export CCACHE_BASEDIR="$TARN_ROOT" CCACHE_NOHASHDIR=1
    if [ ! -f "$TARN_BUILD/build.ninja" ]; then
        local launcher=()
        command -v ccache >/dev/null &&
            launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
        cmake -S "$TARN_ROOT" -B "$TARN_BUILD" -G Ninja "${launcher[@]}" \
            -DCMAKE_TOOLCHAIN_FILE="$TARN_ROOT/cmake/mingw-w64-x86_64.cmake" "$@" || return 1
    fi
    cmake --build "$TARN_BUILD"
}

# The environment of every Wine run: our own prefix, quiet, German code pages.
# The prefix is the tests' shared one, or <build>/wineprefix-<name> after
# tarn_use_prefix <name>.
tarn_wine_env() {
    export WINEPREFIX="$TARN_BUILD/wineprefix${TARN_PREFIX_NAME:+-$TARN_PREFIX_NAME}"
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
    tarn_seal_prefix
    # The Desktop known folder must exist, or "%Desktop%" expands to nothing.
    mkdir -p "$WINEPREFIX/drive_c/users/$(id -un)/Desktop"
    wineserver -p 2>/dev/null || true  # a server of this prefix may already run
    # Bring up Wine's service processes now, detached from any caller's output.
    wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}

# Wine links a new prefix's Desktop, Documents, Downloads and the like to the
# host user's home folder. Each link that leads out of the prefix becomes an
# empty folder inside it, so that nothing a run writes to those folders lands
# in the developer's home, and nothing left there reaches a run.
tarn_seal_prefix() {
    local users="$WINEPREFIX/drive_c/users" link target
    [ -d "$users" ] || return 0
    for link in "$users"/*/*; do
        [ -L "$link" ] || continue
        target=$(readlink -f "$link" 2>/dev/null || true)
        case "$target" in
            "$WINEPREFIX"/*) continue ;;
        esac
        rm -f "$link" && mkdir -p "$link"
    done
}

# Runs the following Wine programs in a prefix of their own, made (and sealed)
# by tarn_start_wine, so that a script disturbs no test run and the tests do
# not disturb it.
tarn_use_prefix() { TARN_PREFIX_NAME="$1"; tarn_wine_env; }

# The Wine processes (servers, services, programs) whose environment names
# one of this build's prefixes (<build>/wineprefix*), as "pid command" lines;
# none when all have ended.
tarn_prefix_processes() {
    local proc pid
    for proc in /proc/[0-9]*; do
        pid=${proc#/proc/}
        case "$(readlink "$proc/exe" 2>/dev/null)" in
            */wine*) ;;
            *) continue ;;
        esac
        tr '\0' '\n' <"$proc/environ" 2>/dev/null | grep -q "^WINEPREFIX=$TARN_BUILD/wineprefix" || continue
        printf '%s %s\n' "$pid" "$(tr '\0' ' ' <"$proc/cmdline" 2>/dev/null)"
    done
}

tarn_stop_wine() {
    wineserver -k 2>/dev/null || true
    [ -n "${TARN_XVFB_PID:-}" ] && kill "$TARN_XVFB_PID" 2>/dev/null
    return 0
}

# Paired benchmarks: the two sides run alternately (A B A B ...), each timed
# as a whole process from here, so both pay their own start and exit and
# neither always runs on a warmer or a busier machine.

# Runs a command silently; prints its wall time in seconds. Fails with it.
tarn_time() {
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 </dev/null || return 1
    end=$(date +%s%N)
    LC_ALL=C awk -v n=$((end - start)) 'BEGIN { printf "%.3f", n / 1e9 }'
}

# The ratio a / b to two places.
tarn_ratio() { LC_ALL=C awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# "median M (min A, max B, of N pairs)" of the per-pair ratios given.
tarn_spread() {
    printf '%s\n' "$@" | LC_ALL=C sort -g | LC_ALL=C awk '{ v[NR] = $1 } END {
        m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "median %.2f (min %.2f, max %.2f, of %d pairs)", m, v[1], v[NR], NR }'
}

# The machine's load average over 1, 5 and 15 minutes.
tarn_load() { cut -d' ' -f1-3 /proc/loadavg; }

# A free TCP port on 127.0.0.1.
tarn_free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# tarn_start_nginx <folder> <root> [server blocks]: starts nginx with a
# configuration of its own in <folder>, serving <root> over http on a free
# port of 127.0.0.1 (sendfile, no access log) with the extra server blocks
# given; waits until it answers. Sets TARN_NGINX_PORT and TARN_NGINX_PID (the
# caller stops it); fails, with nginx stopped, when it does not answer.
tarn_start_nginx() {
    local folder="$1" root="$2" servers="${3:-}"
    mkdir -p "$folder"
    TARN_NGINX_PORT=$(tarn_free_port)
    # The tests' configuration (tests/e2e/nginx_conf.py), without access log.
    python3 "$TARN_ROOT/tests/e2e/nginx_conf.py" "$folder" "$root" "$TARN_NGINX_PORT" "$servers" \
        >"$folder/nginx.conf" || return 1
    /usr/sbin/nginx -c "$folder/nginx.conf" -p "$folder" </dev/null >/dev/null 2>&1 &
    TARN_NGINX_PID=$!
    local _
    for _ in $(seq 100); do
        curl -s -o /dev/null "http://127.0.0.1:$TARN_NGINX_PORT/" && return 0
        sleep 0.1
    done
    kill "$TARN_NGINX_PID" 2>/dev/null || true
    tarn_log "nginx did not answer on 127.0.0.1:$TARN_NGINX_PORT (see $folder/error.log)"
    return 1
}
