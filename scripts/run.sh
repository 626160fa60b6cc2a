#!/usr/bin/env bash
# Installs what is missing, builds, and runs the tool: scripts/run.sh [kvq options]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh default >/dev/null
exec build/default/src/ui/kvq "$@"
