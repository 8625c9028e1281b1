#!/usr/bin/env bash
# tests/windows/keepterm_wine_test.sh [WIN-BUILD [PLAIN-BUILD]]: keepterm.exe of the Windows build
# (default build/win) end to end under Wine, in a terminal (a tmux pane of a tmux server of its own),
# against the native keepd and UPS simulator of the Linux build (default build/plain) on loopback,
# with their own hive and installation in a temporary folder. Shows that the keys typed in the pane
# reach keepterm.exe's dialog and menus up to the UPS main data screen, that single keys arrive
# without ENTER and the console echoes lines again afterwards, that its exit key ends it, that
# Ctrl+C in a key read ends it too, and that each time the terminal is as it was before (the same
# settings; the shell echoes what is typed).
# Uses the WINEPREFIX of the caller (scripts/test-windows), whose wineserver it leaves running.
# Exit status 0 when every step held.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
source "$root/tests/windows/lib.sh"
win_build="$(cd "${1:-$root/build/win}" && pwd)"
plain_build="$(cd "${2:-$root/build/plain}" && pwd)"
: "${WINEPREFIX:?set WINEPREFIX to the Wine prefix to use}"
export WINEDEBUG="${WINEDEBUG:--all}"

work="$(mktemp -d /tmp/keepterm-wine.XXXXXX)"
install="$work/install"
# A tmux server of this test's own: its socket lives in the temporary folder.
tmux_socket="$work/tmux.sock"
pids=()

cleanup() {
  tmux -S "$tmux_socket" kill-server 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# A time limit's signal ends the script through the exit trap, so it still cleans up.
trap 'exit 143' TERM INT

pane() { tmux -S "$tmux_socket" capture-pane -p -t keepterm -S -200 2>/dev/null || true; }

fail() {
  echo "FAIL: $*" >&2
  echo "--- the pane" >&2
  pane | sed '/^\s*$/d' | tail -40 >&2
  for f in "$work"/keepd.err "$install/data/ups_log.txt"; do
    [ -f "$f" ] && { echo "--- $f" >&2; tail -20 "$f" >&2; }
  done
  exit 1
}


pane_has() { pane | grep -qF -- "$1"; }
keys() { tmux -S "$tmux_socket" send-keys -t keepterm "$@"; }
# Wine's console puts the terminal into raw mode a moment after its program started, maybe after the
# first prompt shows; a key typed before that is cooked by the terminal (ENTER arrives as Ctrl+J).
# The shell set cooked mode to start the program, so raw mode now is Wine's.
console_raw() { stty -F "$(tmux -S "$tmux_socket" display -p -t keepterm '#{pane_tty}')" -a | grep -q -- "-icanon"; }


# --- the simulator and keepd, natively, on their own hive and installation
"$plain_build/tools/upssim" --protocol 1 --tcp 0 --control 0 > "$work/sim.out" 2> "$work/sim.err" &
pids+=($!)
wait_for 10 grep -qs '^READY' "$work/sim.out" || fail "upssim did not start"
ups_port="$(sed -n 's/^TCP //p' "$work/sim.out")"

KEEP_ROOT="$root"
source "$root/scripts/lib/install-tree.sh"
keepd_port="$(free_port)"
[ -n "$keepd_port" ] || fail "no free port for keepd"
keep_install_tree "$plain_build" "$install" "$work/registry.reg" \
  "\"UpsManType\"=dword:00000002
\"UpsNetCardAddress\"=\"127.0.0.1:$ups_port\"" "$(keep_model_for_protocol 1)"
sed -i "s|^\"SrvListenPort\"=.*|\"SrvListenPort\"=dword:$(printf %08x "$keepd_port")|" "$work/registry.reg"
VOLTRENA_REGISTRY="$work/registry.reg" "$install/bin/keepd" /SRV < /dev/null > "$work/keepd.out" 2> "$work/keepd.err" &
pids+=($!)
wait_for 60 grep -qs "UPS identified" "$install/data/ups_log.txt" || fail "keepd did not identify the UPS"
echo "ok: the native keepd identified the UPS (port $keepd_port)"

# --- a shell in a terminal; keepterm.exe is started from it, so the terminal outlives it
tmux -S "$tmux_socket" -f /dev/null new-session -d -s keepterm -x 100 -y 30 \
  "env -i PATH=\"$PATH\" HOME=\"$work\" HISTFILE=/dev/null TERM=xterm LANG=C.UTF-8 WINEPREFIX=\"$WINEPREFIX\" WINEDEBUG=\"$WINEDEBUG\" PS1='shell> ' bash --norc --noprofile"
wait_for 10 pane_has "shell>" || fail "the shell in the pane did not start"
keys "stty -g > $work/stty.before; cd $work" Enter
wait_for 10 test -s "$work/stty.before" || fail "the terminal's settings could not be read"
cp "$win_build/console/keepterm.exe" "$work/keepterm.exe"
# After keepterm.exe, on the same command line (the shell's line editor would put back the settings
# it found at its prompt): Wine gives the terminal back when its console ends, which may be a moment
# after the program; then the settings are recorded.
keys "wine keepterm.exe; echo keepterm-ended-\$?; for i in \$(seq 50); do [ \"\$(stty -g)\" = \"\$(cat stty.before)\" ] && break; sleep 0.1; done; stty -g > stty.after" Enter

# The dialog: ENTER takes the default host, then the port, then the menus: 2 (read) and 2 (main data).
wait_for 60 pane_has "Host IP address" || fail "keepterm.exe did not ask for the host"
wait_for 10 console_raw || fail "Wine's console did not take the terminal"
keys Enter
wait_for 30 pane_has "Host IP port" || fail "keepterm.exe did not ask for the port"
keys "$keepd_port" Enter
wait_for 60 pane_has "MAIN MENU" || fail "keepterm.exe did not reach the main menu"
keys 2 Enter
wait_for 30 pane_has "UPS DATA READ MENU" || fail "keepterm.exe did not open the data menu"
keys 2 Enter
wait_for 30 pane_has 'Press "R" to refresh' || fail "keepterm.exe did not show the main data screen"
pane_has "UPS MAIN DATA READ" && pane_has "UPS Status" || fail "the main data screen lacks its title or status"
echo "ok: keepterm.exe showed the UPS main data screen"

# A single key, without ENTER, refreshes the screen: keys arrive one by one, not as lines.
count_titles() { pane | grep -c "UPS MAIN DATA READ" || true; }
titles="$(count_titles)"
titles_grew() { [ "$(count_titles)" -gt "$titles" ]; }
keys r
wait_for 30 titles_grew || fail "the R key alone did not refresh the screen"
echo "ok: a single key without ENTER reached keepterm.exe"

# ENTER leaves the screen, ENTER alone returns to the main menu, Q and ENTER end keepterm.exe.
keys Enter
sleep 1
keys Enter
sleep 1
# The Q shows: after the key reads the console echoes a line's typing again.
keys Q
wait_for 10 pane_has "Selection [Q for exit]: Q" || fail "the console does not echo typing after the key reads"
echo "ok: the console echoes typing again after the key reads"
keys Enter
# The shell's line after keepterm.exe (the command line itself shows the text too, with "$?").
exit_line() { pane | grep -x 'keepterm-ended-[0-9]*'; }
wait_for 30 exit_line > /dev/null || fail "keepterm.exe did not end on its exit key"
[ "$(exit_line)" = keepterm-ended-0 ] || fail "keepterm.exe ended with $(exit_line)"
echo "ok: keepterm.exe ended on Q with status 0"

# The terminal is as before: the same settings, and the shell echoes what is typed.
wait_for 10 test -s "$work/stty.after" || fail "the terminal's settings could not be read afterwards"
cmp -s "$work/stty.before" "$work/stty.after" ||
  fail "the terminal's settings changed: $(cat "$work/stty.before") -> $(cat "$work/stty.after")"
keys "echo typed-back" Enter
wait_for 10 pane_has "typed-back" || fail "typed text is no longer echoed"
pane | grep -qx "typed-back" || fail "the echo command did not run"
echo "ok: the terminal kept its settings and echoes typed text"

# --- Ctrl+C in the middle of a key read ends keepterm.exe, and the terminal again comes back as it
# was. Port 1 has no server, so the dialog shows its error and waits for a key.
rm -f "$work/stty.after"
keys "clear; wine keepterm.exe; echo interrupted-ended; for i in \$(seq 50); do [ \"\$(stty -g)\" = \"\$(cat stty.before)\" ] && break; sleep 0.1; done; stty -g > stty.after" Enter
wait_for 60 pane_has "Host IP address" || fail "keepterm.exe did not ask for the host again"
wait_for 10 console_raw || fail "Wine's console did not take the terminal again"
keys Enter
wait_for 30 pane_has "Host IP port" || fail "keepterm.exe did not ask for the port again"
keys 1 Enter
wait_for 60 pane_has 'Press "ENTER" to continue' || fail "keepterm.exe did not report the missing server"
keys C-c
# (after the prompt, on its line: the program ended before a line end)
interrupted() { pane | grep -q 'interrupted-ended$'; }
wait_for 30 interrupted || fail "Ctrl+C during a key read did not end keepterm.exe"
wait_for 10 test -s "$work/stty.after" || fail "the terminal's settings could not be read after Ctrl+C"
cmp -s "$work/stty.before" "$work/stty.after" ||
  fail "the terminal's settings changed after Ctrl+C: $(cat "$work/stty.before") -> $(cat "$work/stty.after")"
echo "ok: Ctrl+C during a key read ended keepterm.exe and the terminal kept its settings"
