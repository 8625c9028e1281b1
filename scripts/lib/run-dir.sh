# A throwaway folder for one run of a bench or test script, the processes it starts, and the UPS
# simulator most of them start first. Sourced, not run.

# keep_run_dir NAME: makes the folder $work (/tmp/NAME.XXXXXX) and empties $pids; on exit every
# process in $pids is ended and the folder removed. A script that needs more on exit defines
# keep_run_dir_extra_cleanup, called first.
keep_run_dir() {
  work="$(mktemp -d "/tmp/$1.XXXXXX")"
  pids=()
  trap keep_run_dir_cleanup EXIT
}

keep_run_dir_cleanup() {
  if declare -F keep_run_dir_extra_cleanup >/dev/null; then keep_run_dir_extra_cleanup || true; fi
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}

# keep_start_upssim UPSSIM PROTOCOL [WORDS...]: starts the simulator on a free TCP port with a control
# port, its output in $work/sim.out and $work/sim.err, its pid added to $pids. Sets $ups_port and
# $control_port; false when it is not ready within 10 s.
keep_start_upssim() {
  local program="$1" protocol="$2"
  shift 2
  "$program" --protocol "$protocol" --tcp 0 --control 0 "$@" > "$work/sim.out" 2> "$work/sim.err" &
  pids+=($!)
  local _
  for _ in $(seq 100); do
    grep -q '^READY' "$work/sim.out" 2>/dev/null && break
    sleep 0.1
  done
  grep -q '^READY' "$work/sim.out" 2>/dev/null || return 1
  ups_port="$(sed -n 's/^TCP //p' "$work/sim.out")"
  control_port="$(sed -n 's/^CONTROL //p' "$work/sim.out")"
}
