#!/bin/sh
# Shared by the companion-program stand-ins: records one call in data/companion_calls.txt of the
# installation, so a person or a test can see exactly what the server started. A call is a line
# "--- <program>" followed by one line per argument, as received (a carriage return inside an
# argument stays as it is).
# Usage: record-call.sh PROGRAM-NAME [ARGUMENTS...]
here="$(cd "$(dirname "$0")/.." && pwd)"
name="$1"
shift
if [ -d "$here/data" ]; then
  {
    printf -- '--- %s\n' "$name"
    for arg in "$@"; do printf '%s\n' "$arg"; done
  } >> "$here/data/companion_calls.txt"
fi
