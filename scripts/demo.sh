#!/usr/bin/env bash
# Installs what Dravlin needs, builds it, and starts it against stand-ins for the two outside
# servers: a stand-in local model server (unless a real one already answers on localhost:11434) and
# a stand-in Dravlin service. Everything the demo keeps (settings, the secret store, the service's
# accounts and drawings) lives in the build folder's demo/ directory: the user's own settings and
# keyring are never touched (on a Mac the demo's secrets stay in the app's memory: a keychain of its
# own would have to replace the user's default one meanwhile). The stand-ins stop when the app
# exits. DRAVLIN_BUILD_DIR names another build folder (one that is already configured is built as
# it is).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/platform.sh
. "$here/scripts/platform.sh"
build="${DRAVLIN_BUILD_DIR:-$here/build}"
"$here/scripts/setup-deps.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
    "$here/scripts/configure.sh" "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j"$(cpu_count)" --target dravlin dravlin-standin

demo="$build/demo"
mkdir -p "$demo/home" "$demo/run"
chmod 700 "$demo/run"

pids=()
stop_standins() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
}
trap stop_standins EXIT

# Starts one stand-in on a free port; its announced address lands in $address.
start_standin() {
    local role="$1"
    shift
    local out="$demo/$role.address"
    : >"$out"
    "$build/standin/dravlin-standin" "$role" --port 0 "$@" >"$out" 2>"$demo/$role.log" &
    local pid=$!
    pids+=("$pid")
    address=""
    for _ in $(seq 100); do
        read -r _ address <"$out" || true
        [ -n "$address" ] && break
        if ! kill -0 "$pid" 2>/dev/null; then
            echo "The $role stand-in did not start:" >&2
            cat "$demo/$role.log" >&2
            exit 1
        fi
        sleep 0.1
    done
    [ -n "$address" ] || { echo "The $role stand-in did not announce its address." >&2; exit 1; }
}

start_standin service --database "$demo/service.sqlite"
service_url="$address"
echo "Stand-in Dravlin service: $service_url (gallery: $service_url/drawings)"
if (exec 3<>/dev/tcp/127.0.0.1/11434) 2>/dev/null; then
    echo "A local model server answers on localhost:11434: drawing with it."
    unset DRAVLIN_OLLAMA_URL
else
    start_standin local
    echo "Stand-in local model server: $address"
    export DRAVLIN_OLLAMA_URL="$address"
fi

# The app reads the service address from its settings; the demo's settings are its own, a file
# the app is pointed at on every platform (the Mac's defaults would ignore a different HOME).
export DRAVLIN_HOME="$demo/app"
conf="$DRAVLIN_HOME/Dravlin.conf"
mkdir -p "$DRAVLIN_HOME"
touch "$conf"
awk -v url="$service_url" '
    /^DravlinBaseURL=/ { next }
    { print }
    /^\[General\]$/ && !done { print "DravlinBaseURL=" url; done = 1 }
    END { if (!done) { print "[General]"; print "DravlinBaseURL=" url } }
' "$conf" >"$conf.new"
mv "$conf.new" "$conf"

# Chromium refuses to start its sandbox as root (containers, CI machines).
if [ "$(id -u)" -eq 0 ]; then
    export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:-} --no-sandbox"
fi
app="$(app_binary "$build")"

if [ "$dravlin_os" = mac ]; then
    DRAVLIN_SECRET_STORE=memory "$app" "$@"
    exit
fi

# A different home and runtime folder would cut the app off from the user's display: point at it.
if [ -n "${WAYLAND_DISPLAY:-}" ] && [ "${WAYLAND_DISPLAY#/}" = "$WAYLAND_DISPLAY" ]; then
    export WAYLAND_DISPLAY="${XDG_RUNTIME_DIR:-/run/user/$(id -u)}/$WAYLAND_DISPLAY"
fi
if [ -z "${XAUTHORITY:-}" ] && [ -f "$HOME/.Xauthority" ]; then
    export XAUTHORITY="$HOME/.Xauthority"
fi
export HOME="$demo/home" XDG_CONFIG_HOME="$demo/home/.config" XDG_DATA_HOME="$demo/home/.local/share" \
    XDG_CACHE_HOME="$demo/home/.cache" XDG_RUNTIME_DIR="$demo/run"
launch=("$app" "$@")
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    launch=(xvfb-run -a -s "-screen 0 1280x800x24" "${launch[@]}")
fi
# The secret store is a private keyring on a private session bus, started unlocked.
dbus-run-session -- bash -c '
    echo "" | gnome-keyring-daemon --unlock --components=secrets >/dev/null 2>&1 || true
    exec "$@"' bash "${launch[@]}"
