# shellcheck shell=bash
# Sourced by the other scripts: what differs between Debian and macOS, in one place. Written for
# the bash 3.2 that macOS ships.

case "$(uname -s)" in
Darwin) dravlin_os=mac ;;
*) dravlin_os=linux ;;
esac

# How many compilers to run at once.
cpu_count() {
    if [ "$dravlin_os" = mac ]; then
        sysctl -n hw.ncpu
    else
        nproc
    fi
}

# The program inside a build folder: a bundle on the Mac.
app_binary() {
    if [ "$dravlin_os" = mac ]; then
        echo "$1/Dravlin.app/Contents/MacOS/Dravlin"
    else
        echo "$1/dravlin"
    fi
}

# Runs a window-showing command; without a display on Linux, in a virtual one. The Mac always has
# its own window server.
run_with_display() {
    if [ "$dravlin_os" = linux ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        xvfb-run -a -s "-screen 0 1280x800x24" "$@"
    else
        "$@"
    fi
}
