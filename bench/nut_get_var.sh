#!/usr/bin/env bash
# bench/nut_get_var.sh NUTBENCH_C [BUILD-DIR] [SECONDS]: runs keepd of BUILD-DIR (default build/plain)
# on the UPS simulator with its plain-text UPS protocol listener on, compiles the closed-loop load tool
# NUTBENCH_C (kept outside this repository) into a temporary folder, and measures `GET VAR ups
# ups.status` with 1, 10 and 100 clients for SECONDS each (default 5): one line of requests per
# second and latency percentiles per round. Loopback only; stops what it starts.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
source "$(dirname "$0")/../scripts/lib/install-tree.sh"
source "$(dirname "$0")/../scripts/lib/run-dir.sh"
tool_source="${1:?usage: bench/nut_get_var.sh NUTBENCH_C [BUILD-DIR] [SECONDS]}"
build="$(cd "${2:-$KEEP_ROOT/build/plain}" && pwd)"
seconds="${3:-5}"
[ -x "$build/server/keepd" ] && [ -x "$build/tools/upssim" ] || {
  echo "build $build first" >&2
  exit 1
}
keep_run_dir nut-get-var
cc -O2 -Wall -o "$work/nutbench" "$tool_source"
keep_start_upssim "$build/tools/upssim" 1 || { echo "upssim did not start" >&2; exit 1; }
keepd_port=25773
nut_port=25774
keep_install_tree "$build" "$work/install" "$work/registry.reg" \
  "\"UpsManType\"=dword:00000002
\"UpsNetCardAddress\"=\"127.0.0.1:$ups_port\"
\"SrvPollingUps\"=dword:00000001
\"NutListenPort\"=dword:$(printf %08x $nut_port)"
sed -i "s/\"SrvListenPort\"=dword:00001689/\"SrvListenPort\"=dword:$(printf %08x $keepd_port)/" "$work/registry.reg"
VOLTRENA_REGISTRY="$work/registry.reg" "$work/install/bin/keepd" /SRV < /dev/null > "$work/keepd.out" 2>&1 &
pids+=($!)
# Identified once GET VAR answers a value rather than an error.
for _ in $(seq 100); do
  "$work/nutbench" -p "$nut_port" -c 1 -d 1 -q "GET VAR ups ups.status" -e "VAR " 2>/dev/null |
    grep -q 'errors=0' && break
  sleep 0.2
done
for clients in 1 10 100; do
  echo "clients=$clients $("$work/nutbench" -p "$nut_port" -c "$clients" -d "$seconds" \
    -q "GET VAR ups ups.status" -e "VAR ")"
done
