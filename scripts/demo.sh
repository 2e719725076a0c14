#!/usr/bin/env bash
# Sets up a fresh machine, builds, and runs the plug-in under the host: sends requests, prints each reply and
# event, closes the link, and shows the program's log file.
#   ./scripts/demo.sh [REQUEST_FILE]     (default: a few sample requests)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
build=${BUILD_DIR:-$root/build}
[ -n "${DISPLAY:-}" ] || export QT_QPA_PLATFORM=offscreen

requests=${1:-}
if [ -z "$requests" ]; then
  requests=$(mktemp)
  trap 'rm -f "$requests"' EXIT
  cat >"$requests" <<'REQ'
{"MainType":1,"SubType":0,"MsgID":1}
{"MainType":0,"MsgID":2}
{"MainType":7,"SubType":3,"MsgID":"third"}
REQ
fi

# The program's own folder is its application directory: its log goes to build/Log/Plugin.
echo "== requests"; cat "$requests"
echo "== replies and events"
"$build/tools/plugin-host/plugin-host" --requests "$requests" -- "$build/Quorrin_x64" 1 {server} /tmp 2>/dev/null
echo "== log file"
log=$(ls -t "$build"/Log/Plugin/*.log | head -n 1)
echo "$log"
cat "$log"
