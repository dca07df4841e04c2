#!/usr/bin/env bash
# Starts and stops the loopback FTP servers that the end-to-end tests use:
# pyftpdlib (Debian's python3-pyftpdlib, run with /usr/bin/python3) and
# vsftpd. Both listen on 127.0.0.1 only, on free ports, each serving its own
# writable directory of sample files under a state directory.
#
#   tools/ftp-servers.sh start DIR   start both; print `export TAVIRO_...` lines
#                                    (also kept in DIR/env)
#   tools/ftp-servers.sh stop DIR    stop what `start DIR` started, by PID
#   tools/ftp-servers.sh run CMD...  start in a fresh directory, run CMD with
#                                    the variables set, stop, exit with CMD's status
#
# vsftpd needs root: it authenticates its one virtual user through a private
# PAM user database in DIR, which needs a PAM service file
# /etc/pam.d/taviro-vsftpd-<digest of DIR> for as long as the server runs;
# `stop` removes it. No system account is created: the virtual user works as
# Debian's `ftp` system user (created by the vsftpd package).
set -euo pipefail

tools_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
python=/usr/bin/python3

log() { echo "ftp-servers: $*" >&2; }

# The loopback port of a socket bound to port 0 and closed again.
free_port() {
    "$python" -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])
s.close()'
}

# Succeeds once 127.0.0.1:$1 greets with a 220 reply.
greets() {
    "$python" -c 'import socket, sys
try:
    with socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=2) as s:
        s.settimeout(2)
        sys.exit(0 if s.recv(4).startswith(b"220") else 1)
except OSError:
    sys.exit(1)' "$1"
}

alive() {
    local state
    [ -r "/proc/$1/stat" ] || return 1
    state=$(sed 's/^.*) //' "/proc/$1/stat" | cut -d' ' -f1)
    [ "$state" != Z ]
}

# Direct children of a PID, found through /proc (procps may be missing).
children_of() {
    local stat pid ppid
    for stat in /proc/[0-9]*/stat; do
        read -r pid ppid < <(sed 's/^\([0-9]*\) (.*) [A-Za-z] \([0-9]*\) .*$/\1 \2/' "$stat" 2>/dev/null) || continue
        [ "$ppid" = "$1" ] && echo "$pid"
    done
    return 0
}

# Fills a server's root with the sample files that tests may rely on.
make_root() {
    local root=$1
    mkdir -p "$root/sub"
    printf 'Taviro sample file.\r\nSecond line.\r\n' > "$root/readme.txt"
    : > "$root/empty.txt"
    printf 'nested\n' > "$root/sub/nested.txt"
    # Every byte value four times, so text-mode damage shows.
    "$python" -c 'import sys; sys.stdout.buffer.write(bytes(range(256)) * 4)' > "$root/binary.bin"
}

start_pyftpdlib() {
    local dir=$1/pyftpdlib
    mkdir -p "$dir"
    make_root "$dir/root"
    "$python" "$tools_dir/pyftpd.py" "$dir/root" taviro pyftp-secret "$dir/port" "$dir/server.log" \
        </dev/null >"$dir/stdout.log" 2>&1 &
    echo $! > "$dir/pid"
    local pass
    for pass in $(seq 1 100); do
        if [ -s "$dir/port" ] && greets "$(cat "$dir/port")"; then
            write_env "$1" PYFTPDLIB "$(cat "$dir/port")" "$dir/root" taviro pyftp-secret
            return 0
        fi
        alive "$(cat "$dir/pid")" || break
        sleep 0.1
    done
    log "pyftpdlib did not start; its output:"
    cat "$dir/stdout.log" >&2
    return 1
}

write_vsftpd_config() {
    local dir=$1 port=$2 pasv=$3 service=$4
    local pasv_max=$((pasv + 99))
    [ "$pasv_max" -le 65535 ] || pasv_max=65535
    cat > "$dir/vsftpd.conf" <<EOF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$port
background=NO
anonymous_enable=NO
local_enable=YES
write_enable=YES
local_umask=022
guest_enable=YES
guest_username=ftp
virtual_use_local_privs=YES
local_root=$dir/root
chroot_local_user=YES
allow_writeable_chroot=YES
pam_service_name=$service
secure_chroot_dir=$dir/empty
pasv_enable=YES
pasv_address=127.0.0.1
pasv_min_port=$pasv
pasv_max_port=$pasv_max
port_enable=YES
connect_from_port_20=NO
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
userlist_enable=NO
tcp_wrappers=NO
xferlog_enable=YES
dual_log_enable=YES
log_ftp_protocol=YES
vsftpd_log_file=$dir/vsftpd.log
xferlog_file=$dir/xfer.log
ftpd_banner=Taviro test server (vsftpd) ready.
max_clients=0
max_per_ip=0
EOF
    chmod 600 "$dir/vsftpd.conf"
}

start_vsftpd() {
    local dir=$1/vsftpd
    if [ "$(id -u)" -ne 0 ]; then
        log "vsftpd needs root; not started (its tests will fail)"
        return 0
    fi
    if ! getent passwd ftp >/dev/null; then
        log "no system user 'ftp' (created by Debian's vsftpd package); vsftpd not started"
        return 1
    fi
    mkdir -p "$dir/empty"
    chmod 755 "$dir" "$dir/empty"
    make_root "$dir/root"
    chown -R ftp: "$dir/root"

    # The virtual user's password lives in a private Berkeley DB file that
    # pam_userdb reads (Debian's Python dbm.ndbm writes that format).
    "$python" -c 'import dbm.ndbm, sys
db = dbm.ndbm.open(sys.argv[1], "n", 0o600)
db[b"taviro"] = b"vsftp-secret"
db.close()' "$dir/users"
    # PAM lower-cases service names, so the name is a hex digest of DIR.
    local service
    service="taviro-vsftpd-$(printf '%s' "$1" | md5sum | cut -c1-16)"
    echo "$service" > "$dir/pam-service"
    cat > "/etc/pam.d/$service" <<EOF
# Written by Taviro's tools/ftp-servers.sh for a test server; removed when it stops.
auth    required pam_userdb.so db=$dir/users
account required pam_userdb.so db=$dir/users
EOF

    local attempt port pass
    for attempt in 1 2 3 4 5; do
        port=$(free_port)
        write_vsftpd_config "$dir" "$port" "$(free_port)" "$service"
        /usr/sbin/vsftpd "$dir/vsftpd.conf" </dev/null >"$dir/stdout.log" 2>&1 &
        echo $! > "$dir/pid"
        for pass in $(seq 1 100); do
            if greets "$port"; then
                write_env "$1" VSFTPD "$port" "$dir/root" taviro vsftp-secret
                return 0
            fi
            alive "$(cat "$dir/pid")" || break
            sleep 0.1
        done
        stop_pid "$(cat "$dir/pid")"
        log "vsftpd did not start on port $port (attempt $attempt); its output:"
        cat "$dir/stdout.log" >&2
    done
    return 1
}

write_env() {
    local dir=$1 key=$2 port=$3 root=$4 user=$5 password=$6
    {
        echo "export TAVIRO_${key}_PORT=$port"
        echo "export TAVIRO_${key}_ROOT='$root'"
        echo "export TAVIRO_${key}_USER=$user"
        echo "export TAVIRO_${key}_PASSWORD=$password"
    } >> "$dir/env"
    log "$key listening on 127.0.0.1:$port, root $root"
}

# Stops one process we started, and its children (vsftpd's sessions).
stop_pid() {
    local pid=$1 child pass
    alive "$pid" || return 0
    for child in $(children_of "$pid"); do
        kill -TERM "$child" 2>/dev/null || true
    done
    kill -TERM "$pid" 2>/dev/null || true
    for pass in $(seq 1 50); do
        alive "$pid" || return 0
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
}

start() {
    local dir=$1
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    chmod 755 "$dir"
    : > "$dir/env"
    if ! start_pyftpdlib "$dir" || ! start_vsftpd "$dir"; then
        stop "$dir"
        return 1
    fi
    cat "$dir/env"
}

stop() {
    local dir=$1 name service
    for name in pyftpdlib vsftpd; do
        if [ -s "$dir/$name/pid" ]; then
            stop_pid "$(cat "$dir/$name/pid")"
            rm -f "$dir/$name/pid"
        fi
    done
    if [ -s "$dir/vsftpd/pam-service" ]; then
        service=$(cat "$dir/vsftpd/pam-service")
        rm -f "/etc/pam.d/$service" "$dir/vsftpd/pam-service"
    fi
}

run_dir=
run() {
    local status=0
    run_dir=$(mktemp -d "${TMPDIR:-/tmp}/taviro-ftp.XXXXXX")
    trap 'stop "$run_dir"; rm -rf "$run_dir"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    start "$run_dir" >/dev/null
    # shellcheck disable=SC1091
    source "$run_dir/env"
    "$@" || status=$?
    return "$status"
}

case "${1:-}" in
    start) [ $# -eq 2 ] || { log "usage: $0 start DIR"; exit 2; }; start "$2" ;;
    stop) [ $# -eq 2 ] || { log "usage: $0 stop DIR"; exit 2; }; stop "$2" ;;
    run) shift; [ $# -ge 1 ] || { log "usage: $0 run CMD..."; exit 2; }; run "$@" ;;
    *) log "usage: $0 start DIR | stop DIR | run CMD..."; exit 2 ;;
esac
