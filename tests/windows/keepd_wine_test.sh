#!/usr/bin/env bash
# tests/windows/keepd_wine_test.sh [WIN-BUILD [PLAIN-BUILD]]: keepd.exe of the Windows build
# (default build/win) end to end under Wine, against the native UPS simulator of the Linux build
# (default build/plain) on loopback. The settings go into the prefix's registry, the installation
# into a temporary folder. Shows that keepd.exe /SRV identifies the UPS, answers a client, refuses a
# second instance, logs a mains failure, mails it through the real mailout.exe and, when the countdown ends, runs the shutdown script
# exactly once; without settings it names the missing registry key. Then keepd.exe as a service of
# Wine's service manager: started by "sc start", it identifies the UPS, answers a client and is
# RUNNING; "sc stop" ends it the way SIGTERM ends keepd on Linux ("Server stopping" in the log), the
# process is gone and the service STOPPED.
# Uses the WINEPREFIX of the caller (scripts/test-windows), whose wineserver it leaves running;
# removes its registry keys, processes and files on the way out. Exit status 0 when every step held.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
source "$root/tests/windows/lib.sh"
win_build="$(cd "${1:-$root/build/win}" && pwd)"
plain_build="$(cd "${2:-$root/build/plain}" && pwd)"
upssim="$plain_build/tools/upssim"
: "${WINEPREFIX:?set WINEPREFIX to the Wine prefix to use}"
export WINEDEBUG="${WINEDEBUG:--all}"

work="$(mktemp -d /tmp/keepd-wine.XXXXXX)"
install="$work/install"
pids=()
settings_root='HKEY_LOCAL_MACHINE\Software\Corvane'
service="keepd-test-$$"

cleanup() {
  timeout 60 wine sc stop "$service" >/dev/null 2>&1 || true
  timeout 60 wine sc delete "$service" >/dev/null 2>&1 || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  timeout 60 wine reg delete "$settings_root" /f >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
# A time limit's signal ends the script through the exit trap, so it still cleans up.
trap 'exit 143' TERM INT

fail() {
  echo "FAIL: $*" >&2
  for f in "$work"/keepd.err "$install/data/ups_log.txt"; do
    [ -f "$f" ] && { echo "--- $f" >&2; tail -20 "$f" >&2; }
  done
  exit 1
}


log_has() { grep -q -- "$1" "$install/data/ups_log.txt" 2>/dev/null; }
# log_since LINE TEXT: TEXT is in the log at or after line LINE.
log_since() { tail -n "+$1" "$install/data/ups_log.txt" 2>/dev/null | grep -q -- "$2"; }
service_state() { timeout 60 wine sc query "$service" 2>/dev/null | tr -d '\r' | grep -q "STATE.*$1"; }
# keepd.exe processes of this installation: Wine shows them with their Windows path.
keepd_count() { pgrep -fc "$(basename "$work").*keepd\.exe" || true; }
keepd_gone() { [ "$(keepd_count)" -eq 0 ]; }

# A Windows path of a Linux one: Wine maps the root folder to drive Z:.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }


# The status request every client sends, scrambled; its answer starts with the same bytes.
status_answer() {
  python3 - "$1" <<'PY'
import socket, sys
with socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=5) as s:
    s.sendall(b"AD849735F80081\r\n")
    data = b""
    while not data.endswith(b"\n") and len(data) < 65536:
        chunk = s.recv(4096)
        if not chunk:
            break
        data += chunk
    print(data.decode("latin-1").strip())
PY
}

# The first answer within about 15 s: a server just started may not listen yet.
first_status_answer() {
  local answer="" _
  for _ in $(seq 50); do
    answer="$(status_answer "$1" 2>/dev/null || true)"
    [ -n "$answer" ] && break
    sleep 0.3
  done
  printf '%s' "$answer"
}

# --- the mail server event 6 mails to (skipped where Debian's python3-aiosmtpd is missing)
mail="$work/mail"
mkdir -p "$mail"
mail_port=0
if /usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null; then
  /usr/bin/python3 "$root/tests/companions/smtp_sink.py" "$mail" ups unused > "$work/sink.out" 2>&1 &
  pids+=($!)
  wait_for 10 grep -q '^port ' "$work/sink.out" || fail "the SMTP sink did not start"
  mail_port="$(sed -n 's/^port //p' "$work/sink.out")"
fi

# --- the simulator, natively, with a control port for changing the mains state
"$upssim" --protocol 1 --tcp 0 --control 0 > "$work/sim.out" 2> "$work/sim.err" &
pids+=($!)
wait_for 10 grep -q '^READY' "$work/sim.out" || fail "upssim did not start"
ups_port="$(sed -n 's/^TCP //p' "$work/sim.out")"
control_port="$(sed -n 's/^CONTROL //p' "$work/sim.out")"

# --- the installation, and its settings in the registry
KEEP_ROOT="$root"
source "$root/scripts/lib/install-tree.sh"
model="$(keep_model_for_protocol 1)"
mkdir -p "$install"
cp -R "$root/dist/." "$install/"
mkdir -p "$install/bin" "$install/data" "$install/srvtemp"
cp "$win_build/server/keepd.exe" "$install/bin/keepd.exe"
# The real companions, by their Windows names: event 6 below shows its note and mails it.
cp "$win_build/companions/notebox/notebox.exe" "$win_build/companions/notebox/VNoteBox.exe" \
  "$win_build/companions/mailout/mailout.exe" "$install/bin/"
cp "$plain_build/upsdb.ups" "$install/bin/upsdb.ups"
# The shutdown script as Windows runs it (through cmd.exe): one that appends a line per run.
runs="$work/shutdown-runs.txt"
printf '@echo ran>>"%s"\r\n' "$(windows_path "$runs")" > "$install/script/system/lcldown.bat"

keepd_port="$(free_port)"
[ -n "$keepd_port" ] || fail "no free port for keepd.exe"
# Doubled for the .reg file's escapes, and doubled again for sed's replacement text.
install_value="$(windows_path "$install/")"
install_value="${install_value//\\/\\\\\\\\}"
{
  sed -e "s|^\"InstallPath\"=.*|\"InstallPath\"=\"$install_value\"|" \
      -e "s|^\"SrvListenPort\"=.*|\"SrvListenPort\"=dword:$(printf %08x "$keepd_port")|" \
      -e "s|^\"UpsFixedTime\"=.*|\"UpsFixedTime\"=dword:00000005|" \
      -e "s|^\"Event6\"=.*|\"Event6\"=\"6\|\$LOG\|\$POPUP\|\$EMAIL,ops@example.org\"|" \
      "$root/dist/config/registry.reg"
  printf '"UpsModelName"="%s"\n"UpsManType"=dword:00000002\n"UpsNetCardAddress"="127.0.0.1:%s"\n' \
    "$model" "$ups_port"
  printf '"EmailServer"="127.0.0.1"\n"EmailPort"=dword:%08x\n"EmailSender"="ups@example.org"\n' "$mail_port"
} > "$work/settings.reg"
timeout 60 wine reg delete "$settings_root" /f >/dev/null 2>&1 || true

# --- without settings: refused, naming the registry key where Linux names the hive file
set +e
timeout 60 wine "$install/bin/keepd.exe" /SRV < /dev/null > "$work/bare.out" 2>&1
bare_status=$?
set -e
[ "$bare_status" -eq 1 ] || fail "keepd.exe without settings ended with $bare_status"
grep -qF 'no configuration: the registry key HKEY_LOCAL_MACHINE\Software\Corvane\Voltrena\Globals does not exist' \
  "$work/bare.out" || fail "keepd.exe without settings said: $(cat "$work/bare.out")"
echo "ok: keepd.exe without settings named the missing registry key"

timeout 60 wine reg import "$(windows_path "$work/settings.reg")" >/dev/null 2>&1 || fail "reg import failed"
got="$(timeout 60 wine reg query 'HKEY_LOCAL_MACHINE\Software\Corvane\Voltrena\Globals' /v InstallPath 2>/dev/null | tr -d '\r' || true)"
grep -qF "$(windows_path "$install/")" <<< "$got" || fail "InstallPath not in the registry: $got"

# --- keepd.exe as a service would start it
wine "$install/bin/keepd.exe" /SRV < /dev/null > "$work/keepd.out" 2> "$work/keepd.err" &
keepd_pid=$!
pids+=($keepd_pid)
wait_for 60 log_has "UPS identified" || fail "keepd.exe did not identify the UPS"
echo "ok: keepd.exe identified the UPS"

answer="$(first_status_answer "$keepd_port")"
[[ "$answer" == AD849735F800* ]] || fail "status request answered \"$answer\""
echo "ok: keepd.exe answered the status request"

# --- a second instance meanwhile: refused by the named mutex, as on Linux by the lock file
# Into a file: Wine's helper programs may inherit and hold a pipe long after keepd.exe has ended.
set +e
timeout 60 wine "$install/bin/keepd.exe" /SRV < /dev/null > "$work/second.out" 2>&1
second_status=$?
set -e
second_out="$(cat "$work/second.out")"
[ "$second_status" -eq 1 ] || fail "second keepd.exe ended with $second_status: $second_out"
grep -q "Powerkeep already running !" <<< "$second_out" || fail "second keepd.exe said: $second_out"
kill -0 "$keepd_pid" 2>/dev/null || fail "the first keepd.exe ended"
echo "ok: a second keepd.exe refused to start"

# --- mains failure, then the shutdown countdown (UpsFixedTime 5 s) and event 10's "$SHUTDOWN"
"$root/scripts/upsctl" "$control_port" set battery > /dev/null || fail "upsctl set battery failed"
wait_for 30 log_has "Mains power failure" || fail "the mains failure did not reach the log"
echo "ok: the mains failure reached the log"
# The note box companion inherits keepd.exe's standard error, where headless Wine's box goes.
wait_for 30 grep -q "^Voltrena: Power failure on " "$work/keepd.err" || fail "event 6 showed no note"
echo "ok: event 6's note was shown through the note box companion"
if [ "$mail_port" -ne 0 ]; then
  # Sent by bin\mailout.exe, which keepd.exe started by that name with the mail words of event 6.
  wait_for 30 test -f "$mail/1.eml" || fail "event 6's mail did not arrive"
  grep -q "^to ops@example.org$" "$mail/1.txt" || fail "event 6's mail went to: $(cat "$mail/1.txt")"
  grep -q "Power failure on .*The computer is running on battery" <(tr -d '\r' < "$mail/1.eml" | tr '\n' ' ') ||
    fail "event 6's mail says: $(cat "$mail/1.eml")"
  echo "ok: event 6's mail arrived through mailout.exe"
else
  echo "SKIPPED: event 6's mail (python3-aiosmtpd is not installed)"
fi
wait_for 60 test -s "$runs" || fail "the shutdown script did not run"
# Long enough for the countdown to have repeated itself several times had it not stopped.
sleep 12
[ "$(grep -c ran "$runs")" -eq 1 ] || fail "the shutdown script ran $(grep -c ran "$runs") times"
echo "ok: the countdown ran the shutdown script exactly once"

# --- as a service of the service manager, after the foreground server has gone.
kill "$keepd_pid"
wait_for 30 bash -c "! kill -0 $keepd_pid 2>/dev/null" || fail "the foreground keepd.exe did not end"
"$root/scripts/upsctl" "$control_port" set mains > /dev/null || fail "upsctl set mains failed"
start_line=$(($(wc -l < "$install/data/ups_log.txt") + 1))
timeout 60 wine sc create "$service" binPath= "$(windows_path "$install/bin/keepd.exe") /SRV" > "$work/sc.out" 2>&1 ||
  fail "sc create failed: $(cat "$work/sc.out")"
# Wine's manager refuses starts while it still starts the prefix's own services after boot.
sc_start() { timeout 60 wine sc start "$service" > "$work/sc.out" 2>&1; }
wait_for 180 sc_start || fail "sc start failed: $(cat "$work/sc.out")"
wait_for 60 log_since "$start_line" "UPS identified" || fail "the keepd service did not identify the UPS"
echo "ok: the keepd service identified the UPS"
wait_for 30 service_state RUNNING || fail "sc query: $(timeout 60 wine sc query "$service" 2>&1)"
echo "ok: sc query says RUNNING"
answer="$(first_status_answer "$keepd_port")"
[[ "$answer" == AD849735F800* ]] || fail "the keepd service answered \"$answer\""
echo "ok: the keepd service answered the status request"
[ "$(keepd_count)" -ge 1 ] || fail "no keepd.exe process of the installation is seen"

timeout 60 wine sc stop "$service" > "$work/sc.out" 2>&1 || fail "sc stop failed: $(cat "$work/sc.out")"
wait_for 30 service_state STOPPED || fail "not STOPPED: $(timeout 60 wine sc query "$service" 2>&1)"
wait_for 30 keepd_gone || fail "keepd.exe still runs after sc stop: $(pgrep -fa "$(basename "$work")")"
log_since "$start_line" "Server stopping" || fail "the log shows no clean stop"
echo "ok: sc stop ended the service cleanly (Server stopping logged, process gone, STOPPED)"
timeout 60 wine sc delete "$service" > "$work/sc.out" 2>&1 || fail "sc delete failed: $(cat "$work/sc.out")"
service_state "" && fail "the service is still registered"
echo "ok: the service was deleted"
