#!/usr/bin/env bash
# bench/run-update-cycle.sh [rounds]
exec bash "$(dirname "$0")/run-bench.sh" update_cycle "$@"
