#!/usr/bin/env bash
# Sets up a fresh machine, builds, and runs the plug-in as the browser's host runs it.
#
#   ./scripts/demo.sh                 the main job: logs in to the simulated device, opens its 16 channels in live
#                                     tiles of the plug-in window, takes a snapshot, records a few seconds, saves a
#                                     screenshot of the window, and prints where the files and the log are
#   ./scripts/demo.sh REQUEST_FILE    sends the file's request lines instead, prints every reply and event, closes
#                                     the link, and shows the program's log file
#
# Without a display (DISPLAY unset) the main job starts a virtual X server (Xvfb) of its own. Environment:
#   QUORRIN_DEMO_PREBUILT=1   use the build in BUILD_DIR as it stands (no set-up, no build)
#   DEMO_OUT=DIR              the main job's folder for its files (default BUILD_DIR/demo)
#   DEMO_RECORD_SECONDS=N     length of the recording (default 4)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${QUORRIN_DEMO_PREBUILT:-}" ]; then
  "$root/scripts/setup.sh"
  "$root/scripts/build.sh" >/dev/null
fi
build=${BUILD_DIR:-$root/build}
host="$build/tools/plugin-host/plugin-host"

if [ $# -gt 0 ]; then
  # Own requests: the program's own folder is its application directory, so its log goes to build/Log/Plugin.
  [ -n "${DISPLAY:-}" ] || export QT_QPA_PLATFORM=offscreen
  requests=$1
  echo "== requests"; cat "$requests"
  echo "== replies and events"
  "$host" --requests "$requests" -- "$build/Quorrin_x64" 1 {server} /tmp 2>/dev/null
  echo "== log file"
  log=$(ls -t "$build"/Log/Plugin/*.log | head -n 1)
  echo "$log"
  cat "$log"
  exit 0
fi

# ---------------------------------------------------------------------------------------------------------------
# The main job. The program runs from an application directory of its own, whose configuration puts snapshots and
# recordings into the run's folder; the SDK information selects the OEM mode whose recordings are MP4 files.
out=${DEMO_OUT:-$build/demo}
mkdir -p "$out"
out=$(cd "$out" && pwd)
# What an earlier run left; nothing else of the folder is touched.
rm -rf "$out/app" "$out/snapshots" "$out/recordings" "$out/downloads"
rm -f "$out/display" "$out/xvfb.log" "$out/requests" "$out/messages.txt" "$out/program.txt" "$out/screenshot.png"
mkdir -p "$out/app" "$out/snapshots" "$out/recordings" "$out/downloads"
cp "$build/Quorrin_x64" "$out/app/"
cat >"$out/app/ClientCfg.ini" <<CFG
[Path]
CapPath=$out/snapshots
RecPath=$out/recordings
DownPath=$out/downloads
[Info]
ImageType=1
CFG
sdk='{"MainType":35,"SubMsg":1,"OemID":"O60"}'
record_seconds=${DEMO_RECORD_SECONDS:-4}

host_pid=
xvfb_pid=
cleanup() {
  [ -z "$host_pid" ] || kill "$host_pid" 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
fail() { echo "demo: $*" >&2; exit 1; }

# Waits until the condition holds, at most $1 seconds.
wait_for() {
  local limit=$(( $(date +%s) + $1 )); shift
  until "$@"; do
    [ "$(date +%s)" -lt "$limit" ] || return 1
    [ -z "$host_pid" ] || kill -0 "$host_pid" 2>/dev/null || return 1
    sleep 0.1
  done
}

if [ -z "${DISPLAY:-}" ]; then
  command -v Xvfb >/dev/null || fail "Xvfb is missing (scripts/setup.sh installs the package xvfb)"
  Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$out/display" 2>"$out/xvfb.log" &
  xvfb_pid=$!
  wait_for 20 test -s "$out/display" || fail "Xvfb did not start (see $out/xvfb.log)"
  export DISPLAY=":$(head -n 1 "$out/display")"
fi
export QT_QPA_PLATFORM=xcb QT_XCB_GL_INTEGRATION=none

# The host reads request lines from a pipe that this script writes as the run goes on; every message the program
# sends is a line of messages.txt, and the program's log lines also reach its standard error (program.txt).
mkfifo "$out/requests"
"$host" --requests - --timeout-ms 300000 -- "$out/app/Quorrin_x64" 1 {server} "$out/app" "" "$sdk" \
  <"$out/requests" >"$out/messages.txt" 2>"$out/program.txt" &
host_pid=$!
exec 4>"$out/requests"
send() { printf '%s\n' "$1" >&4; }
reply_of() { grep -m 1 "\"MsgID\":\"$1\"" "$out/messages.txt" || true; }
has_reply() { grep -q "\"MsgID\":\"$1\"" "$out/messages.txt"; }
request() {
  send "$2"
  wait_for 60 has_reply "$1" || fail "no reply to $1 (see $out/messages.txt and $out/program.txt)"
  reply_of "$1"
}

echo "== logging in to the simulated device at 127.0.0.1"
reply=$(request login '{"MainType":8,"SubType":0,"MsgID":"login","Device":{"LoginType":0,"IP":"127.0.0.1","Port":34567,"User":"admin","Password":""},"Title":"Web Viewer","Browse":2}')
echo "$reply"
case $reply in *'"Ret":100'*) ;; *) fail "the login failed";; esac

echo "== showing the plug-in window over the page's content window"
request show '{"MainType":12,"SubType":2,"MsgID":"show","Pos":{"Left":0,"Top":0,"Width":1280,"Height":720}}'

echo "== opening the 16 channels in live tiles (sub streams)"
request open '{"MainType":4,"SubType":0,"MsgID":"open","Channel":-1,"Stream":1}'

echo "== taking a snapshot of channel 1"
# The tiles play for a moment first; a channel without a decoded picture yet has nothing to capture.
sleep 2
snapshot_reply=
for attempt in 1 2 3 4 5 6 7 8 9 10; do
  snapshot_reply=$(request "snapshot$attempt" "{\"MainType\":4,\"SubType\":9,\"MsgID\":\"snapshot$attempt\",\"Channel\":0}")
  case $snapshot_reply in *'"Ret":100'*) break;; esac
  sleep 0.5
done
echo "$snapshot_reply"

echo "== recording channel 1 for $record_seconds seconds"
request record-on '{"MainType":4,"SubType":10,"MsgID":"record-on","Channel":0,"Record":1}'
sleep $(( record_seconds / 2 ))

echo "== taking a screenshot of the plug-in window"
# Where the window lies on the screen: the content window's origin plus the page's region, as the window logs it.
place=$(grep -o 'nLeft:[-0-9]*,nTop:[-0-9]*,Width:[0-9]*,Height:[0-9]*' "$out/program.txt" | tail -n 1)
[ -n "$place" ] || fail "the plug-in window did not report its place (see $out/program.txt)"
left=$(sed 's/nLeft:\([-0-9]*\),.*/\1/' <<<"$place")
top=$(sed 's/.*nTop:\([-0-9]*\),.*/\1/' <<<"$place")
width=$(sed 's/.*Width:\([0-9]*\),.*/\1/' <<<"$place")
height=$(sed 's/.*Height:\([0-9]*\)/\1/' <<<"$place")
ffmpeg -hide_banner -loglevel error -f x11grab -draw_mouse 0 -video_size "${width}x${height}" \
  -i "$DISPLAY+$left,$top" -frames:v 1 -y "$out/screenshot.png" || fail "the screenshot failed"
echo "${width}x${height} at ($left, $top) on the screen $DISPLAY"

sleep $(( record_seconds - record_seconds / 2 ))
request record-off '{"MainType":4,"SubType":10,"MsgID":"record-off","Channel":0,"Record":0}'

echo "== closing the link (the program logs out, finishes the recording and ends)"
send '#close'
exec 4>&-
status=0
wait "$host_pid" || status=$?
host_pid=

snapshot=$(ls -t "$out"/snapshots/* 2>/dev/null | head -n 1 || true)
recording=$(ls -t "$out"/recordings/*.mp4 2>/dev/null | head -n 1 || true)
log=$(ls -t "$out"/app/Log/Plugin/*.log 2>/dev/null | head -n 1 || true)
echo "== done (program exit status $status)"
echo "snapshot:    ${snapshot:-(none)}"
echo "recording:   ${recording:-(none)}"
echo "screenshot:  $out/screenshot.png"
echo "log:         ${log:-(none)}"
echo "messages:    $out/messages.txt"
[ "$status" -eq 0 ] && [ -n "$snapshot" ] && [ -n "$recording" ]
