#!/usr/bin/env bash
# bench/run-http-download.sh [rounds] [size_mib]
exec bash "$(dirname "$0")/run-bench.sh" http_download "$@"
