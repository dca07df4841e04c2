#!/usr/bin/env bash
# Takes a screenshot of every page of the window under Xvfb, for review by
# eye: the pages as they start, then a short session against the local demo
# server (tools/demo-server.sh, 127.0.0.1:21): logging in, both listings, a
# download, an upload and a refused directory change with its error box.
#
#   tools/screenshots.sh [DIR]    PNG files into DIR (default: screenshots/ in the build tree)
#
# The window is driven with real X input (xdotool). Not a test: it checks
# nothing, it only shows. Optional environment: TAVIRO_BUILD_DIR, TAVIRO_JOBS.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${1:-}
build_dir=${TAVIRO_BUILD_DIR:-$repo/build}
jobs=${TAVIRO_JOBS:-2}

say() { echo "screenshots.sh: $*"; }

bash "$repo/tools/setup.sh"
generator=()
[ -f "$build_dir/CMakeCache.txt" ] || generator=(-G Ninja)
cmake -S "$repo" -B "$build_dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVIRO_BUILD_APP=ON >/dev/null
cmake --build "$build_dir" --parallel "$jobs" --target taviro
[ -n "$out" ] || out=$build_dir/screenshots
mkdir -p "$out"
out=$(cd "$out" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/taviro-shots.XXXXXX")
xvfb_pid= app_pid= server_started=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$server_started" ] && "$repo/tools/demo-server.sh" stop "$work/server" || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A display number nobody uses.
display=
for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
        display=:$n
        break
    fi
done
[ -n "$display" ] || { say "no free display number"; exit 1; }
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
for pass in $(seq 1 50); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && break
    sleep 0.1
done

if "$repo/tools/demo-server.sh" start "$work/server"; then
    server_started=1
else
    say "no demo server: only the pages as they start are taken"
fi

(cd "$work" && exec "$build_dir/app/Taviro") >"$work/app.log" 2>&1 &
app_pid=$!
window=
for pass in $(seq 1 100); do
    window=$(xdotool search --onlyvisible --name '^Taviro$' 2>/dev/null | head -n 1) || true
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { say "the window did not appear"; cat "$work/app.log"; exit 1; }
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$window")" # X, Y, WIDTH, HEIGHT

# The middle of the screen, where the window and its message boxes are.
shot() {
    import -window root -crop 560x400+120+100 +repage "$out/$1.png"
    say "$out/$1.png"
}
# Clicks at window coordinates.
click() {
    xdotool mousemove $((X + $1)) $((Y + $2)) click 1
    sleep 0.3
}
# Clicks into an edit box and types.
type_into() {
    click "$1" "$2"
    xdotool key ctrl+a BackSpace
    xdotool type --delay 20 "$3"
}
# Tabs are in two rows 20 pixels high: the row of the current tab is the
# lower one (y 32), the other the upper one (y 12). Pages start at 4, 44.
page() { click "$1" "$2"; sleep 0.3; }

shot 5-welcome
page 54 12          # 登陆信息, upper row; its row moves down
shot 0-login
page 171 32; shot 1-listing
page 275 32; shot 2-download
page 355 32; shot 3-upload
page 106 12         # 远程文件管理, upper row; rows swap again
shot 4-management

[ -n "$server_started" ] || exit 0

page 54 12          # back to 登陆信息
type_into 173 65 127.0.0.1
type_into 173 126 taviro
type_into 173 154 taviro
click 97 190        # 连接
sleep 1
shot 0-login-connected

page 171 32         # 远程文件列表
click 110 59        # 文件夹列表
sleep 1
click 278 59        # 文件列表
sleep 1
shot 1-listing-both

page 275 32         # 下载
type_into 229 78 binary.bin
type_into 229 126 "$work/binary.bin"
click 89 168        # 下载
sleep 1
shot 2-download-done

printf 'uploaded by the screenshot script\n' > "$work/upload.txt"
page 355 32         # 上传
type_into 181 78 "$work/upload.txt"
type_into 181 126 incoming/upload.txt
click 291 104       # 上传 (appends)
sleep 1
shot 3-upload-done

page 106 12         # 远程文件管理
type_into 180 201 no-such-directory
click 313 204       # 跳转: refused, so an error box follows the failure text
sleep 1
shot 4-management-error
xdotool key Return
sleep 0.5
shot 4-management-after
