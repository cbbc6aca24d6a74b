#!/usr/bin/env bash
# The main job, end to end: builds the Windows client and the tool, seals the sample
# configuration (samples/config.ini) into the client, and starts it under Wine on a virtual
# display, leaving a screenshot in demo-out/. With --interactive on a machine with a display, the
# sealed client is started on that display for a person to use instead.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
interactive=0
[ "${1:-}" = "--interactive" ] && interactive=1

scripts/setup.sh
echo "== building the Windows client (x86_64) and the tool"
cmake --preset win64 >/dev/null
cmake --build --preset win64 -- -j2 >/dev/null

out=$root/demo-out
mkdir -p "$out"
state=$root/build/win64/wine
tests/wine/wine_env.sh setup "$state" "$root/build/win64/keeper.exe"
trap 'tests/wine/wine_env.sh cleanup "$state"' EXIT
# shellcheck disable=SC1091
. "$state/env.sh"
if [ $interactive = 1 ]; then
  export DISPLAY=${SEALUPDATE_DISPLAY:-:0}
fi
winpath() { echo "Z:$(realpath "$1" | tr / '\\')"; }

echo "== sealing samples/config.ini into demo-out/sealupdate.exe"
"$WINE" build/win64/sealupdate-tool.exe seal --config "$(winpath samples/config.ini)" \
  "$(winpath build/win64/sealupdate.exe)" "$(winpath "$out")\\sealupdate.exe"
echo "== the configuration the sealed client carries"
"$WINE" build/win64/sealupdate-tool.exe show "$(winpath "$out/sealupdate.exe")"

echo "== starting the client"
"$WINE" "$out/sealupdate.exe" >"$out/client.log" 2>&1 </dev/null &
client=$!
title="示例程序 - 智能更新程序"
"$WINE" build/win64/driver.exe wait "$title" --visible --timeout 30000
if [ $interactive = 1 ]; then
  echo "== the client is running; close its window to end the demo"
  wait $client || true
  exit 0
fi
sleep 1
"$WINE" build/win64/driver.exe texts "$title"
import -window root "$out/client.png"
echo "== screenshot: demo-out/client.png"
"$WINE" build/win64/driver.exe close "$title"
wait $client
echo "== the client closed its window and ended"
