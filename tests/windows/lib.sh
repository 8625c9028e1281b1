# Shared by the Wine end-to-end scripts beside this file; sourced, not run.

# wait_for SECONDS COMMAND...: true once COMMAND succeeds, false when the time runs out first.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.2
  done
}

# A port nobody listens on now, below the range the system hands out to outgoing connections, so
# no client socket can take it before the server binds it.
free_port() {
  python3 - <<'PY'
import random, socket
low = int(open("/proc/sys/net/ipv4/ip_local_port_range").read().split()[0])
for _ in range(100):
    port = random.randrange(20000, low)
    with socket.socket() as s:
        try:
            s.bind(("127.0.0.1", port))
        except OSError:
            continue
    print(port)
    break
PY
}
