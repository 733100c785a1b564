#!/usr/bin/env bash
# Usage: with_sim.sh SIM COMMAND...
# Starts the demo service SIM in test mode on a free loopback port, every
# captcha showing k7p2, runs COMMAND with SORREL_TEST_SIM_URL naming it, and
# stops the service.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
trap sim_stop EXIT
sim_start "$1" --port 0 --test-mode --fixed-code k7p2 || { echo "with_sim.sh: the service printed no address" >&2; exit 1; }
shift
SORREL_TEST_SIM_URL="$sim_origin" "$@"
