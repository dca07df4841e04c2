#!/usr/bin/env bash
# Installs what is missing, builds the program, starts a local FTP server with
# sample files on 127.0.0.1:21 (user "taviro", password "taviro") and opens
# the window. The server stops when the window is closed.
#
# Optional environment: TAVIRO_BUILD_DIR (the build tree, default build/),
# TAVIRO_JOBS (parallel build jobs, default 2).
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${TAVIRO_BUILD_DIR:-$repo/build}
jobs=${TAVIRO_JOBS:-2}

say() { echo "run.sh: $*"; }

bash "$repo/tools/setup.sh"

generator=()
[ -f "$build_dir/CMakeCache.txt" ] || generator=(-G Ninja)
cmake -S "$repo" -B "$build_dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVIRO_BUILD_APP=ON >/dev/null
cmake --build "$build_dir" --parallel "$jobs" --target taviro

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    say "no display: run this from a desktop session (DISPLAY is not set)"
    exit 1
fi

server_dir=$(mktemp -d "${TMPDIR:-/tmp}/taviro-demo.XXXXXX")
cleanup() {
    "$repo/tools/demo-server.sh" stop "$server_dir" || true
    rm -rf "$server_dir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

"$repo/tools/demo-server.sh" start "$server_dir"
say "log in with host 127.0.0.1, user taviro, password taviro"
status=0
"$build_dir/app/Taviro" || status=$?
exit "$status"
