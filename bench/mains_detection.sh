#!/usr/bin/env bash
# bench/mains_detection.sh [BUILD-DIR] [TRIALS]: runs keepd of BUILD-DIR (default build/plain) on the
# UPS simulator, polling every second, and measures with detection_bench (of build/plain) how long a
# mains failure takes to reach a client: min/median/max over TRIALS (default 10). Two build folders,
# run one after the other, compare two versions on this machine. Loopback only; stops what it starts.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
source "$(dirname "$0")/../scripts/lib/install-tree.sh"
source "$(dirname "$0")/../scripts/lib/run-dir.sh"
build="$(cd "${1:-$KEEP_ROOT/build/plain}" && pwd)"
trials="${2:-10}"
tool="$KEEP_ROOT/build/plain/bench/detection_bench"
[ -x "$build/server/keepd" ] && [ -x "$build/tools/upssim" ] && [ -x "$tool" ] || {
  echo "build $build and $KEEP_ROOT/build/plain first" >&2
  exit 1
}
keep_run_dir mains-detection
keep_start_upssim "$build/tools/upssim" 1 || { echo "upssim did not start" >&2; exit 1; }
keepd_port=25772
keep_install_tree "$build" "$work/install" "$work/registry.reg" \
  "\"UpsManType\"=dword:00000002
\"UpsNetCardAddress\"=\"127.0.0.1:$ups_port\"
\"SrvPollingUps\"=dword:00000001"
sed -i "s/\"SrvListenPort\"=dword:00001689/\"SrvListenPort\"=dword:$(printf %08x $keepd_port)/" "$work/registry.reg"
VOLTRENA_REGISTRY="$work/registry.reg" "$work/install/bin/keepd" /SRV < /dev/null > "$work/keepd.out" 2>&1 &
pids+=($!)
sleep 4
"$tool" "$keepd_port" "$control_port" "$trials"
