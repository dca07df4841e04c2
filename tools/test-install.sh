#!/usr/bin/env bash
# Checks that the installed components can be used from another program:
# installs the platform, socket and ftp libraries with their CMake package
# into a temporary prefix, builds examples/ftpget against it with
# find_package(Taviro), and downloads a binary sample file with it from each
# loopback FTP server named in the environment (TAVIRO_PYFTPDLIB_* and
# TAVIRO_VSFTPD_*, as tools/ftp-servers.sh sets them), comparing the bytes.
#
#   tools/test-install.sh [BUILD-DIR]
#
# BUILD-DIR is an already built tree to install from; without it a fresh one
# is configured and built in the temporary directory. Prints one line per
# check and exits non-zero when any fails.
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${TAVIRO_JOBS:-2}
work=$(mktemp -d "${TMPDIR:-/tmp}/taviro-install.XXXXXX")
trap 'rm -rf "$work"' EXIT

say() { echo "test-install.sh: $*"; }
fail() { say "FAILED: $*"; exit 1; }

build_dir=${1:-}
if [ -z "$build_dir" ]; then
    build_dir=$work/build
    cmake -S "$repo" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTAVIRO_BUILD_APP=OFF -DTAVIRO_BUILD_TESTS=OFF -DTAVIRO_SANITIZE=OFF >/dev/null \
        || fail "configuring the library"
fi
cmake --build "$build_dir" --parallel "$jobs" --target taviro_ftp >/dev/null || fail "building the library"
cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null || fail "cmake --install"
for f in lib/cmake/Taviro/TaviroConfig.cmake include/taviro/ftp/KivFtp.h include/taviro/socket/Doziz.h \
    include/taviro/platform/Winsock.h; do
    [ -f "$work/prefix/$f" ] || fail "not installed: $f"
done
say "installed into a temporary prefix"

cmake -S "$repo/examples/ftpget" -B "$work/ftpget" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null \
    || fail "configuring examples/ftpget against the installed package"
cmake --build "$work/ftpget" >/dev/null || fail "building examples/ftpget"
say "built examples/ftpget with find_package(Taviro)"

checked=0
for key in PYFTPDLIB VSFTPD; do
    port_var=TAVIRO_${key}_PORT root_var=TAVIRO_${key}_ROOT
    user_var=TAVIRO_${key}_USER password_var=TAVIRO_${key}_PASSWORD
    [ -n "${!port_var:-}" ] || continue
    local_file=$work/binary-$key.bin
    if ! timeout 60 "$work/ftpget/ftpget" 127.0.0.1 "${!port_var}" "${!user_var}" "${!password_var}" \
        binary.bin "$local_file" 2>"$work/ftpget-$key.log"; then
        cat "$work/ftpget-$key.log" >&2
        fail "ftpget against $key"
    fi
    cmp -s "${!root_var}/binary.bin" "$local_file" || fail "the file from $key differs from the server's"
    say "ftpget downloaded binary.bin from $key byte for byte"
    checked=$((checked + 1))
done
[ "$checked" -gt 0 ] || fail "no FTP server in the environment; run through tools/test.sh or tools/ftp-servers.sh run"
say "passed"
