# Sourced by run-tests.sh and run-tavo.sh: installs what is missing and gives the helpers that pick
# the architectures (arch.sh) and a private Xvfb display. Sets root, xvfb_pid.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/tools/install-deps.sh"
source "$root/tools/arch.sh"
export WINEDEBUG=-all

xvfb_pid=
# Starts Xvfb on the first free display from :90 on and exports DISPLAY; returns when it is up.
start_private_display() {
    for n in $(seq 90 140); do
        [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
        Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        xvfb_pid=$!
        export DISPLAY=:$n
        break
    done
    for _ in $(seq 50); do [ -e /tmp/.X11-unix/X${DISPLAY#:} ] && break; sleep 0.1; done
}

# Readies the Wine prefix of the build tree of architecture $1 and exports its environment.
prepare_wine() {
    tavo_wine_env "$1" "$root/build/$1"
    "$root/tools/wine-prefix.sh"
}
