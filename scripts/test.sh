#!/usr/bin/env bash
# Installs what Dravlin needs, then builds and runs every test twice: once as shipped (warnings are
# errors) and once under AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/platform.sh
. "$here/scripts/platform.sh"
"$here/scripts/setup-deps.sh"

jobs="$(cpu_count)"
run_suite() {
    local dir="$1"
    shift
    "$here/scripts/configure.sh" "$dir" -DCMAKE_BUILD_TYPE=Debug -DDRAVLIN_WERROR=ON "$@"
    cmake --build "$dir" -j"$jobs"
    # Each run gets a fresh home: preferences, caches and the secret store never touch the user's.
    # (Each test program makes a home of its own too; the keychain test, on the Mac, a keychain.)
    local home
    home="$(mktemp -d)"
    if [ "$dravlin_os" = mac ]; then
        HOME="$home" ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 600
        rm -rf "$home"
        return
    fi
    HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" \
        XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$home/run" \
        dbus-run-session -- bash -c '
            mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
            # A locked keyring would open an unlock prompt and hang: start it unlocked.
            echo "" | gnome-keyring-daemon --unlock --components=secrets >/dev/null 2>&1 || true
            ctest --test-dir "'"$dir"'" --output-on-failure -j'"$jobs"' --timeout 600'
    rm -rf "$home"
}

export QT_QPA_PLATFORM=offscreen
if [ "$(id -u)" -eq 0 ]; then
    export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:-} --no-sandbox"
fi

echo "== formatting =="
# The committed .clang-format is the style; a file that drifts from it fails the run.
find "$here" \( -path "$here/build*" -o -path "$here/.git" \) -prune -o \( -name '*.cpp' -o -name '*.h' \) -print0 |
    xargs -0 clang-format --dry-run --Werror

echo "== workflows =="
"$here/scripts/check-workflows.sh"

echo "== tests =="
run_suite "$here/build"
echo "== QML lint =="
# Warnings fail the run; what the linter is told to show only (.qmllint.ini) is printed and passes.
cmake --build "$here/build" --target dravlincore_qmllint
if [ "$dravlin_os" != mac ]; then
    echo "== fuzzing =="
    # Each parser's target from its seeds for a fixed number of inputs from a fixed seed (about 20 s
    # each here); scripts/fuzz.sh runs one longer, and freely.
    for run in linesplitter:200000 catalog:400000 modellist:300000 svgextract:200000 addresses:250000 update:200000 history:4000 streams:200000 generation:200000 launchmessage:200000; do
        target="${run%%:*}"
        log="$(mktemp)"
        if ! DRAVLIN_FUZZ_DIR="$here/build-fuzz" DRAVLIN_FUZZ_RUNS="${run#*:}" \
            "$here/scripts/fuzz.sh" "$target" >"$log" 2>&1; then
            tail -n 60 "$log"
            echo "fuzz_$target found a fault: its input is in build-fuzz/" >&2
            exit 1
        fi
        echo "fuzz_$target: $(grep -E '^#[0-9]+[[:space:]]+DONE' "$log")"
        rm -f "$log"
    done
fi
echo "== tests under AddressSanitizer + UndefinedBehaviorSanitizer =="
# Apple's AddressSanitizer has no leak checker: asking for one there is an error.
if [ "$dravlin_os" = mac ]; then
    export ASAN_OPTIONS="abort_on_error=1"
else
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
fi
export LSAN_OPTIONS="suppressions=$here/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
run_suite "$here/build-sanitize" -DDRAVLIN_SANITIZE=ON
echo "All tests passed."
