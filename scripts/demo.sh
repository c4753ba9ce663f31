#!/usr/bin/env bash
# Installs what is missing, builds, and runs a whole download against the
# built-in simulated receiver (the GUI when a display is available).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
exec build/receiver-downloader --demo "$@"
