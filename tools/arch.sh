# Sourced by the build, run and test scripts: which architectures this machine builds and runs, and
# the Wine environment of each build tree.
#   TAVO_ARCH=x86 or x64 forces one architecture.

# True when the kernel executes 32-bit x86 code: the 32-bit dynamic loader is a small program of
# that kind. (Installed i386 packages say nothing: some kernels refuse to run them.)
tavo_can_run_x86() {
    [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

# The architectures whose tests run here, in order.
tavo_test_arches() {
    case "${TAVO_ARCH:-}" in
        x86|x64) echo "$TAVO_ARCH"; return ;;
        "") ;;
        *) echo "TAVO_ARCH must be x86 or x64, not '$TAVO_ARCH'" >&2; return 1 ;;
    esac
    if tavo_can_run_x86; then echo "x86 x64"; else echo "x64"; fi
}

# The one architecture in which the program itself runs here: 32-bit where the machine can.
tavo_run_arch() {
    local arches
    arches=$(tavo_test_arches) || return 1
    echo "${arches%% *}"
}

# The locale Wine runs the program in: the caller's LC_ALL, else Japanese, the program's first
# language, in which every test is written. Wine takes the display language and the ANSI code page
# from LC_ALL (LANG alone does not do); the locale need not exist on the Linux side. Given to wine
# through env, since a shell that sets a locale it lacks warns on every run.
tavo_wine_locale() {
    echo "${LC_ALL:-ja_JP.UTF-8}"
}

# Exports the Wine environment of the build tree $2 of architecture $1: its own prefix, and the
# loader of its own bitness first on PATH.
tavo_wine_env() {
    local arch=$1 tree=$2 tools
    tools=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
    export WINEPREFIX=$tree/wineprefix WINEDLLOVERRIDES="mscoree,mshtml="
    if [ "$arch" = x64 ]; then
        export WINEARCH=win64
        case ":$PATH:" in *":$tools/wine64-bin:"*) ;; *) export PATH="$tools/wine64-bin:$PATH" ;; esac
    else
        export WINEARCH=win32
        PATH=$(echo ":$PATH:" | sed "s|:$tools/wine64-bin:|:|g; s|^:||; s|:$||")
        export PATH
    fi
}
