#!/usr/bin/env bash
# The main job, end to end: builds the Windows client, the tool and the sample programs, makes a
# signing key, seals the sample configuration (samples/config.ini, pointed at a loopback nginx)
# with that key pinned into the client, writes the signed update document with `release`, and
# lets the client update the sample main program under Wine on a virtual display, printing each
# step and leaving screenshots in demo-out/. With --interactive on
# a machine with a display, the client runs on that display for a person to click through.
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
state=$root/build/win64/wine
tests/wine/wine_env.sh setup "$state" "$root/build/win64/driver.exe" hold
trap 'tests/wine/wine_env.sh cleanup "$state"' EXIT
if [ $interactive = 1 ]; then
  export SEALUPDATE_DISPLAY=${DISPLAY:-:0}
  python3 scripts/demo.py build/win64 "$state" "$out" --interactive
else
  python3 scripts/demo.py build/win64 "$state" "$out"
fi
