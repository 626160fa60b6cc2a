#!/usr/bin/env bash
# Installs what is missing, builds, and runs the tool.
#   scripts/run.sh            the desktop tool on the simulated actuator (the demo);
#                             without a display, kvqctl --demo status instead
#   scripts/run.sh --real     the desktop tool on this machine's serial ports
#   scripts/run.sh ARGS...    kvq with these arguments (--real is the same as none)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh default >/dev/null
bin=build/default/src
has_display() { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] || [ -n "${QT_QPA_PLATFORM:-}" ]; }

if [ $# -eq 0 ]; then
  if has_display; then
    exec "$bin/ui/kvq" --demo
  fi
  echo "No display here: running the headless tool on the simulated actuator (kvqctl --demo status)."
  exec "$bin/cli/kvqctl" --demo status
fi
[ "$1" = "--real" ] && shift
exec "$bin/ui/kvq" "$@"
