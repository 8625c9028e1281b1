#!/usr/bin/env bash
# bench/request_instructions.sh NUTBENCH_C [BUILD-DIR] [CLIENTS]: keepd's own user-space instructions
# per status request (<|101|>), counted by valgrind's callgrind. keepd of BUILD-DIR (default
# build/plain) runs under callgrind on the UPS simulator; once it answers, its counters are zeroed,
# the closed-loop load tool NUTBENCH_C (kept outside this repository) asks with CLIENTS connections
# (default 10) for 3 s, and the count is dumped and divided by the requests answered. Unlike requests
# per second, the figure hardly moves with what else the machine does, so a before/after pair can be
# measured apart. Loopback only; stops what it starts.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
source "$(dirname "$0")/../scripts/lib/install-tree.sh"
source "$(dirname "$0")/../scripts/lib/run-dir.sh"
tool_source="${1:?usage: bench/request_instructions.sh NUTBENCH_C [BUILD-DIR] [CLIENTS]}"
build="$(cd "${2:-$KEEP_ROOT/build/plain}" && pwd)"
clients="${3:-10}"
[ -x "$build/server/keepd" ] && [ -x "$build/tools/upssim" ] || {
  echo "build $build first" >&2
  exit 1
}
keep_require_packages valgrind
keep_run_dir request-instructions
cc -O2 -Wall -o "$work/nutbench" "$tool_source"
keep_start_upssim "$build/tools/upssim" 1 || { echo "upssim did not start" >&2; exit 1; }
keepd_port=25775
keep_install_tree "$build" "$work/install" "$work/registry.reg" \
  "\"UpsManType\"=dword:00000002
\"UpsNetCardAddress\"=\"127.0.0.1:$ups_port\"
\"SrvPollingUps\"=dword:00000001"
sed -i "s/\"SrvListenPort\"=dword:00001689/\"SrvListenPort\"=dword:$(printf %08x $keepd_port)/" "$work/registry.reg"
VOLTRENA_REGISTRY="$work/registry.reg" valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" \
  "$work/install/bin/keepd" /SRV < /dev/null > "$work/keepd.out" 2>&1 &
keepd=$!
pids+=($keepd)
# <|101|> as every client scrambles it, and the start every answer to it has.
request=AD849735F80081
answer=AD849735F800
for _ in $(seq 150); do
  "$work/nutbench" -p "$keepd_port" -c 1 -d 1 -q "$request" -e "$answer" 2>/dev/null | grep -q ' errors=0 ' && break
  sleep 0.2
done
callgrind_control -z "$keepd" > /dev/null 2>&1
result="$("$work/nutbench" -p "$keepd_port" -c "$clients" -d 3 -q "$request" -e "$answer" 2>&1 | tail -1)"
callgrind_control -d "$keepd" > /dev/null 2>&1
requests="$(sed -n 's/.* requests=\([0-9]*\) .*/\1/p' <<< "$result")"
for _ in $(seq 50); do [ -s "$work/cg.out.1" ] && break; sleep 0.1; done
instructions="$(sed -n 's/^summary: //p' "$work/cg.out.1")"
[ -n "$requests" ] && [ "$requests" -gt 0 ] && [ -n "$instructions" ] || {
  echo "no figures: $result" >&2
  exit 1
}
echo "clients=$clients requests=$requests instructions=$instructions per_request=$((instructions / requests))"
