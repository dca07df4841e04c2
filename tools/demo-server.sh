#!/usr/bin/env bash
# The local FTP server that the window is tried against: pyftpdlib (Debian's
# python3-pyftpdlib, run with /usr/bin/python3) on 127.0.0.1:21, the window's
# fixed port, serving a directory of sample files to user "taviro" with
# password "taviro".
#
#   tools/demo-server.sh start DIR   fill DIR/root with sample files, start the
#                                    server, wait for its greeting
#   tools/demo-server.sh stop DIR    stop the server that `start DIR` started, by PID
#
# Port 21 is privileged: without root the server is started through sudo.
set -euo pipefail

tools_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
python=/usr/bin/python3
port=21
user=taviro
password=taviro

log() { echo "demo-server: $*" >&2; }

# Succeeds once 127.0.0.1:21 greets with a 220 reply.
greets() {
    "$python" -c 'import socket, sys
try:
    with socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=2) as s:
        s.settimeout(2)
        sys.exit(0 if s.recv(4).startswith(b"220") else 1)
except OSError:
    sys.exit(1)' "$port"
}

port_in_use() {
    "$python" -c 'import socket, sys
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
try:
    s.bind(("127.0.0.1", int(sys.argv[1])))
except PermissionError:
    sys.exit(1)
except OSError:
    sys.exit(0)
finally:
    s.close()
sys.exit(1)' "$port"
}

# Runs a command as root: directly when we are root, else through sudo.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

make_samples() {
    local root=$1
    mkdir -p "$root/docs" "$root/incoming"
    printf 'Welcome to the Taviro demo server.\r\nTry downloading, uploading and renaming files here.\r\n' > "$root/readme.txt"
    printf 'Line one\nLine two\nLine three\n' > "$root/docs/notes.txt"
    printf 'A file in a sub-directory.\n' > "$root/docs/nested.txt"
    "$python" -c 'import sys; sys.stdout.buffer.write(bytes(range(256)) * 16)' > "$root/binary.bin"
    # Large enough to watch the progress text and to press "中止" in time.
    "$python" -c 'import os, sys
block = os.urandom(1 << 20)
for _ in range(100):
    sys.stdout.buffer.write(block)' > "$root/big.bin"
    printf 'first part, ' > "$root/resume-me.txt"
    chmod -R a+rwX "$root"
}

start() {
    local dir=$1
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    if greets || port_in_use; then
        log "127.0.0.1:$port is already in use by another program."
        log "Stop it first (on Debian the vsftpd package runs a server there: 'systemctl stop vsftpd')."
        return 1
    fi
    make_samples "$dir/root"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    # Started straight from here, so that $! is the server (or sudo, which
    # hands the stop signal on to it).
    "${sudo[@]}" "$python" "$tools_dir/pyftpd.py" "$dir/root" "$user" "$password" \
        "$dir/port" "$dir/server.log" "$port" </dev/null >"$dir/stdout.log" 2>&1 &
    echo $! > "$dir/pid"
    local pass
    for pass in $(seq 1 100); do
        if greets; then
            log "pyftpdlib on 127.0.0.1:$port, user '$user', password '$password', files in $dir/root"
            return 0
        fi
        [ -d "/proc/$(cat "$dir/pid")" ] || break
        sleep 0.1
    done
    log "the server did not start; its output:"
    cat "$dir/stdout.log" >&2
    stop "$dir"
    return 1
}

stop() {
    local dir=$1 pid pass
    [ -s "$dir/pid" ] || return 0
    pid=$(cat "$dir/pid")
    rm -f "$dir/pid"
    [ -d "/proc/$pid" ] || return 0
    as_root kill -TERM "$pid" 2>/dev/null || return 0
    for pass in $(seq 1 50); do
        [ -d "/proc/$pid" ] || return 0
        sleep 0.1
    done
    as_root kill -KILL "$pid" 2>/dev/null || true
}

case "${1:-}" in
    start) [ $# -eq 2 ] || { log "usage: $0 start DIR"; exit 2; }; start "$2" ;;
    stop) [ $# -eq 2 ] || { log "usage: $0 stop DIR"; exit 2; }; stop "$2" ;;
    *) log "usage: $0 start DIR | stop DIR"; exit 2 ;;
esac
