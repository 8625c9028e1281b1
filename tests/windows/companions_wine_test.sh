#!/usr/bin/env bash
# tests/windows/companions_wine_test.sh [WIN-BUILD]: the Windows companions of the build (default
# build/win) under Wine. notebox.exe and VNoteBox.exe end by themselves where no box can be shown
# (headless Wine) and say the note, its lone-CR line breaks made CR LF, with characters beyond the
# ANSI code page intact. mailout.exe, against the native SMTP sink on loopback, delivers one message
# after the login with its words and text intact, and on a refused login ends with 1 and the reason,
# never the password. Uses the caller's WINEPREFIX. Exit status 0 when every step held.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
source "$root/tests/windows/lib.sh"
win_build="$(cd "${1:-$root/build/win}" && pwd)"
: "${WINEPREFIX:?set WINEPREFIX to the Wine prefix to use}"
export WINEDEBUG="${WINEDEBUG:--all}"

work="$(mktemp -d /tmp/companions-wine.XXXXXX)"
sink_pid=""
cleanup() {
  [ -n "$sink_pid" ] && kill "$sink_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# --- the note box, by both names; the server breaks lines with a lone CR
for name in notebox VNoteBox; do
  set +e
  timeout 60 wine "$win_build/companions/notebox/$name.exe" /T:0 $'/M:Netzausfall \xc3\xbc\rOn battery.' /I:48 \
    < /dev/null > "$work/$name.out" 2> "$work/$name.err"
  status=$?
  set -e
  [ "$status" -eq 0 ] || fail "$name.exe ended with $status: $(cat "$work/$name.err")"
  [ "$(cat "$work/$name.err")" = $'Voltrena: Netzausfall \xc3\xbc\r\nOn battery.\r' ] ||
    fail "$name.exe said: $(od -c "$work/$name.err" | head)"
  echo "ok: $name.exe showed the note and ended"
done

# --- the mail companion against a real SMTP server
if ! /usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null; then
  echo "SKIPPED: mailout.exe (python3-aiosmtpd is not installed)"
  exit 0
fi
mkdir -p "$work/mail"
password='Pa55 w0rd'
/usr/bin/python3 "$root/tests/companions/smtp_sink.py" "$work/mail" ups "$password" > "$work/sink.out" 2>&1 &
sink_pid=$!
wait_for 10 grep -q '^port ' "$work/sink.out" || fail "the SMTP sink did not start"
mail_port="$(sed -n 's/^port //p' "$work/sink.out")"

# mailout DIR WORDS...: runs mailout.exe with the sink's address, its status into DIR/status.
mailout() {
  local dir="$1"
  shift
  mkdir -p "$dir"
  set +e
  KEEP_MAILOUT_LIMIT_MS=5000 timeout 60 wine "$win_build/companions/mailout/mailout.exe" -a:127.0.0.1 \
    "-p:$mail_port" "$@" -s:ups@example.org "-r:ops@example.org; boss@example.org" -o:Voltrena \
    $'-b:10/12/2026 13:22:04 - Netzausfall \xc3\xbc.\rOn battery.' -z < /dev/null > "$dir/out" 2> "$dir/err"
  echo $? > "$dir/status"
  set -e
}

mailout "$work/good" -l:ups "-w:$password"
[ "$(cat "$work/good/status")" -eq 0 ] || fail "mailout.exe ended with $(cat "$work/good/status"): $(cat "$work/good/err")"
[ -f "$work/mail/1.eml" ] || fail "no message arrived"
[ "$(cat "$work/mail/1.txt")" = $'from ups@example.org\nto ops@example.org boss@example.org\nlogin ups' ] ||
  fail "the envelope was: $(cat "$work/mail/1.txt")"
grep -qF $'Subject: Voltrena\r' "$work/mail/1.eml" || fail "no subject in: $(cat "$work/mail/1.eml")"
grep -qF $'10/12/2026 13:22:04 - Netzausfall \xc3\xbc.\r\nOn battery.\r' "$work/mail/1.eml" ||
  fail "the text arrived as: $(cat "$work/mail/1.eml")"
echo "ok: mailout.exe delivered one message after the login, its text intact"

mailout "$work/refused" -l:ups -w:wrong-one
[ "$(cat "$work/refused/status")" -eq 1 ] || fail "a refused login ended with $(cat "$work/refused/status")"
grep -q "login refused by the mail server 127.0.0.1:$mail_port for user ups" "$work/refused/err" ||
  fail "a refused login said: $(cat "$work/refused/err")"
grep -q "wrong-one" "$work/refused/err" && fail "the password was shown: $(cat "$work/refused/err")"
[ ! -f "$work/mail/2.eml" ] || fail "a message arrived without a login"
echo "ok: mailout.exe named the refused login and ended with 1"
