#!/usr/bin/env bash
# Builds Taviro and runs every test, twice: a normal RelWithDebInfo build in
# build/ and an AddressSanitizer + UndefinedBehaviorSanitizer build in
# build-asan/. Installs missing Debian packages first (tools/setup.sh) and
# starts fresh loopback FTP servers for each tree (tools/ftp-servers.sh),
# stopping them by PID however the run ends.
#
# The last line of output is "N passed, N failed" over both trees; a tree
# that fails to configure or build, or whose ctest fails without counting a
# failed test, adds one failure. Exits non-zero when anything failed.
#
# Optional environment: TAVIRO_JOBS (parallel build jobs, default 2),
# TAVIRO_BUILD_DIR and TAVIRO_ASAN_BUILD_DIR (the two build trees).
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${TAVIRO_JOBS:-2}
normal_dir=${TAVIRO_BUILD_DIR:-$repo/build}
asan_dir=${TAVIRO_ASAN_BUILD_DIR:-$repo/build-asan}

# Any sanitizer report ends the test program with a failure.
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen

passed=0
failed=0
servers_dir=
ctest_pid=

say() { echo "test.sh: $*"; }

stop_ctest() {
    if [ -n "$ctest_pid" ]; then
        kill -TERM "$ctest_pid" 2>/dev/null || true
        wait "$ctest_pid" 2>/dev/null || true
        ctest_pid=
    fi
}

stop_servers() {
    if [ -n "$servers_dir" ]; then
        "$repo/tools/ftp-servers.sh" stop "$servers_dir" || true
        rm -rf "$servers_dir"
        servers_dir=
    fi
}
trap 'stop_ctest; stop_servers' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

start_servers() {
    servers_dir=$(mktemp -d "${TMPDIR:-/tmp}/taviro-ftp.XXXXXX")
    if ! "$repo/tools/ftp-servers.sh" start "$servers_dir" >/dev/null; then
        say "the FTP servers did not all start; the end-to-end tests will fail"
    fi
    # shellcheck disable=SC1091
    [ -f "$servers_dir/env" ] && source "$servers_dir/env"
}

# The window is built only once app/CMakeLists.txt defines a target.
build_app=OFF
if grep -Eq '^[[:space:]]*add_(executable|library)[[:space:]]*\(' "$repo/app/CMakeLists.txt" 2>/dev/null; then
    build_app=ON
fi

# Configures, builds and tests one tree; adds to the counts.
run_tree() {
    local name=$1 dir=$2
    shift 2
    local generator=()
    [ -f "$dir/CMakeCache.txt" ] || generator=(-G Ninja)

    say "[$name] configuring $dir"
    if ! cmake -S "$repo" -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTAVIRO_BUILD_APP="$build_app" "$@"; then
        say "[$name] configure FAILED"
        failed=$((failed + 1))
        return
    fi
    say "[$name] building"
    if ! cmake --build "$dir" --parallel "$jobs"; then
        say "[$name] build FAILED"
        failed=$((failed + 1))
        return
    fi

    start_servers
    say "[$name] running the tests"
    local log="$dir/test-run.log" status=0
    rm -f "$log"
    # In the background, so that INT and TERM are handled at once.
    (cd "$dir" && exec ctest --output-on-failure --no-tests=error --output-log "$log") &
    ctest_pid=$!
    wait "$ctest_pid" || status=$?
    ctest_pid=
    stop_servers

    local summary tree_failed=0 tree_total=0
    summary=$(grep -Eo '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [ -n "$summary" ]; then
        tree_failed=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+)$/\1/')
        tree_total=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+)$/\2/')
    fi
    local tree_passed=$((tree_total - tree_failed))
    if [ "$status" -ne 0 ] && [ "$tree_failed" -eq 0 ]; then
        say "[$name] ctest exited with status $status without counting a failed test"
        tree_failed=1
    fi
    passed=$((passed + tree_passed))
    failed=$((failed + tree_failed))
    say "[$name] $tree_passed passed, $tree_failed failed"
}

say "installing missing packages"
if ! bash "$repo/tools/setup.sh"; then
    say "tools/setup.sh FAILED"
    failed=$((failed + 1))
fi

run_tree normal "$normal_dir" -DTAVIRO_SANITIZE=OFF
run_tree sanitizers "$asan_dir" -DTAVIRO_SANITIZE=ON

# The installed package, used from another program against fresh servers.
say "[install] checking cmake --install and examples/ftpget"
if "$repo/tools/ftp-servers.sh" run bash "$repo/tools/test-install.sh" "$normal_dir"; then
    passed=$((passed + 1))
else
    failed=$((failed + 1))
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
