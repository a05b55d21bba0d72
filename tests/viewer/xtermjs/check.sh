#!/usr/bin/env bash
# The viewer in xterm.js with its image addon, in headless Chromium (check.mjs says what is
# checked). Exits 77 (skipped) where Chromium, Node.js 20 or later, or the packages of
# package-lock.json (installed by tests/run.sh into MODULES with `npm ci`) are missing.
#
# Usage: tests/viewer/xtermjs/check.sh MODULES VIEWER PTY_BRIDGE
set -uo pipefail
modules=$1 viewer=$2 bridge=$3
here=$(dirname "$0")

[ -x /usr/bin/chromium ] || { echo "skipped: chromium is not installed"; exit 77; }
command -v node >/dev/null || { echo "skipped: node is not installed"; exit 77; }
node_major=$(node -p 'process.versions.node.split(".")[0]')
[ "$node_major" -ge 20 ] || { echo "skipped: node $node_major is older than 20"; exit 77; }
for package in @xterm/xterm @xterm/addon-image playwright-core; do
  [ -f "$modules/node_modules/$package/package.json" ] ||
    { echo "skipped: $package is not installed in $modules (tests/run.sh installs it)"; exit 77; }
done

# A loaded machine can answer the viewer's questions later than it waits, and then the viewer
# rightly paints text cells, or keeps to the 256 colour registers in force: a run whose
# picture never came, or came in 256 registers, is tried again, twice at most.
for attempt in 1 2 3; do
  echo "attempt $attempt"
  node "$here/check.mjs" "$modules" "$viewer" "$bridge"
  status=$?
  [ "$status" = 3 ] || exit "$status"
done
exit 1
