#!/usr/bin/env bash
# package_test.sh BUILD-DIR SOURCE-DIR: builds the Debian package, checks its files against the
# installed layout, unpacks it into a throwaway root and runs keepd from the unpacked files, with the
# shipped configuration, against upssim: a mains failure is logged and the countdown's shutdown
# reaches the shutdown script (replaced by a recorder) exactly once.
set -euo pipefail
build="$1"
source_dir="$2"
source "$source_dir/scripts/lib/run-dir.sh"
keep_run_dir keep-package
fail() {
  echo "FAIL: $*" >&2
  for f in "$work"/keepd.err "$root"/var/lib/voltrena/data/ups_log.txt; do
    [ -f "$f" ] && { echo "--- $f" >&2; cat "$f" >&2; }
  done
  exit 1
}
# wait_for SECONDS FILE PATTERN: until FILE holds a line matching PATTERN.
wait_for() {
  local deadline=$((SECONDS + $1))
  while [ $SECONDS -lt $deadline ]; do
    grep -q -- "$3" "$2" 2>/dev/null && return 0
    sleep 0.2
  done
  return 1
}

# --- The package and its file list.
(cd "$build" && cpack -G DEB -B "$work/cpack" >/dev/null) || fail "cpack could not build the package"
deb="$(ls "$work"/cpack/*.deb)"
dpkg-deb -c "$deb" | awk '{ name = $6; sub(/^\.\//, "/", name); sub(/\/$/, "", name); print name }' |
  grep -v '^/$' | sort > "$work/files"
# Every path must be one of the layout's; only the folders may be missing from this list.
while IFS= read -r path; do
  case "$path" in
    /usr/sbin/keepd | /usr/bin/keepterm | /usr/bin/upssim) ;;
    /usr/lib/voltrena/bin/upsdb.ups | /usr/lib/voltrena/bin/mailout | /usr/lib/voltrena/bin/notebox) ;;
    /usr/lib/voltrena/bin/VNoteBox | /usr/share/voltrena/languages/english.lng) ;;
    /usr/share/voltrena/languages/english.msg | /usr/share/man/man1/keepterm.1* | /usr/share/man/man1/upssim.1*) ;;
    /usr/share/man/man8/keepd.8* | /usr/share/doc/voltrena/*) ;;
    /etc/voltrena/registry.reg | /etc/voltrena/script/system/lcldown.sh) ;;
    /var/lib/voltrena/bin | /var/lib/voltrena/languages | /var/lib/voltrena/script) ;;
    /var/lib/voltrena/data | /var/lib/voltrena/srvtemp) ;;
    /lib/systemd/system/keepd.service | /lib/udev/rules.d/60-keepd-ups.rules) ;;
    /etc | /etc/voltrena | /etc/voltrena/script | /etc/voltrena/script/system | /lib | /lib/systemd) ;;
    /lib/systemd/system | /lib/udev | /lib/udev/rules.d | /usr | /usr/bin | /usr/sbin | /usr/lib) ;;
    /usr/lib/voltrena | /usr/lib/voltrena/bin | /usr/share | /usr/share/voltrena) ;;
    /usr/share/voltrena/languages | /usr/share/man | /usr/share/man/man1 | /usr/share/man/man8) ;;
    /usr/share/doc | /usr/share/doc/voltrena | /var | /var/lib | /var/lib/voltrena) ;;
    *) fail "the package holds $path, which is not in the layout" ;;
  esac
done < "$work/files"
for path in /usr/sbin/keepd /usr/bin/keepterm /usr/lib/voltrena/bin/upsdb.ups /etc/voltrena/registry.reg \
  /usr/lib/voltrena/bin/mailout /usr/lib/voltrena/bin/notebox /usr/lib/voltrena/bin/VNoteBox \
  /usr/share/man/man8/keepd.8 /usr/share/man/man1/keepterm.1 /usr/share/man/man1/upssim.1 \
  /etc/voltrena/script/system/lcldown.sh /var/lib/voltrena/data /var/lib/voltrena/srvtemp \
  /var/lib/voltrena/bin /lib/systemd/system/keepd.service /lib/udev/rules.d/60-keepd-ups.rules; do
  grep -qx -- "$path" "$work/files" || fail "the package lacks $path"
done
dpkg-deb -e "$deb" "$work/control"
grep -qx /etc/voltrena/registry.reg "$work/control/conffiles" || fail "the hive is not a configuration file"
grep -qx /etc/voltrena/script/system/lcldown.sh "$work/control/conffiles" ||
  fail "the shutdown script is not a configuration file"
grep -q 'systemctl poweroff' "$source_dir/packaging/lcldown.sh" || fail "the shipped script does not power off"

# --- Unpacked, with the shipped hive, against the simulator.
root="$work/root"
dpkg-deb -x "$deb" "$root"
[ "$(readlink "$root/var/lib/voltrena/bin")" = ../../../usr/lib/voltrena/bin ] || fail "bin/ does not link into /usr"
# Nothing under /usr or /etc/voltrena/script may be written at run time (root ignores modes, so the
# trees are compared before and after instead).
snapshot() { (cd "$root" && find usr etc/voltrena/script -printf '%p %s %T@\n' | sort); }
# The recorder that stands in for the real shutdown (conffile: the administrator's to replace).
cat > "$root/etc/voltrena/script/system/lcldown.sh" <<SCRIPT
#!/bin/sh
echo "shutdown \$*" >> "$work/shutdowns"
SCRIPT
snapshot > "$work/usr.before"
keep_start_upssim "$build/tools/upssim" 1 || fail "upssim did not start: $(cat "$work/sim.err")"
client_port=$((20000 + $$ % 20000))
# The shipped hive, pointed at the unpacked tree, with a UPS and a short countdown (8 s, not 300).
mkdir -p "$work/etc"
sed -e "s|^\"InstallPath\"=.*|\"InstallPath\"=\"$root/var/lib/voltrena/\"|" \
  -e "s|^\"UpsFixedTime\"=.*|\"UpsFixedTime\"=dword:00000008|" \
  -e "s|^\"SrvListenPort\"=.*|\"SrvListenPort\"=dword:$(printf %08x "$client_port")|" \
  "$root/etc/voltrena/registry.reg" > "$work/etc/registry.reg"
grep -q '^"UpsFixedTime"=dword:00000008' "$work/etc/registry.reg" || fail "the shipped hive has no UpsFixedTime line"
printf '"UpsModelName"="Keep LineGuard 1000"\n"UpsManType"=dword:00000002\n"UpsNetCardAddress"="127.0.0.1:%s"\n' \
  "$ups_port" >> "$work/etc/registry.reg"
# The rehearsal on the installed files first: the whole road, ending in the (replaced) script.
VOLTRENA_REGISTRY="$work/etc/registry.reg" "$root/usr/sbin/keepd" /DRILL > "$work/drill.out" 2>&1 ||
  { cat "$work/drill.out" >&2; fail "the drill on the installed configuration did not end in a shutdown"; }
grep -q "shutdown script: starts $root/var/lib/voltrena/script/system/lcldown.sh" "$work/drill.out" ||
  { cat "$work/drill.out" >&2; fail "the drill did not name the installed shutdown script"; }
[ ! -e "$work/shutdowns" ] || fail "the drill ran the shutdown script"
VOLTRENA_REGISTRY="$work/etc/registry.reg" "$root/usr/sbin/keepd" /SRV < /dev/null > "$work/keepd.out" 2> "$work/keepd.err" &
keepd=$!
pids+=("$keepd")
log="$root/var/lib/voltrena/data/ups_log.txt"
wait_for 20 "$log" "UPS identified" || fail "keepd did not identify the UPS"
"$source_dir/scripts/upsctl" "$control_port" set battery > /dev/null || fail "the simulator refused set battery"
wait_for 10 "$log" "Mains power failure" || fail "the mains failure was not logged"
wait_for 30 "$work/shutdowns" "shutdown" || fail "the countdown's shutdown did not reach the script"
# The shutdown has been given time to repeat itself, had it a fault that made it.
sleep 4
[ "$(wc -l < "$work/shutdowns")" -eq 1 ] || fail "the script ran $(wc -l < "$work/shutdowns") times"
"$source_dir/scripts/upsctl" "$control_port" status > "$work/status" || fail "no simulator status"
grep -q '^lastshutdown S03R0001' "$work/status" || { cat "$work/status" >&2; fail "the UPS was not told to switch off after 3 minutes and back on 1 minute after the mains"; }
kill -TERM "$keepd"
wait "$keepd" || fail "keepd did not stop cleanly on SIGTERM"
snapshot > "$work/usr.after"
diff "$work/usr.before" "$work/usr.after" >&2 || fail "keepd wrote under /usr or into the script folder"
echo "package: $(wc -l < "$work/files") paths in the layout; mains failure logged; script ran once"
