#!/bin/sh
# Sample shutdown script, run by keepd when this computer is to be shut down. It only records that
# a shutdown would happen; replace the last lines by the real command (for example
# "exec /sbin/shutdown -h now") to power the computer off.
here="$(cd "$(dirname "$0")/../.." && pwd)"
stamp="$(date '+%d/%m/%Y %H:%M:%S')"
[ -d "$here/data" ] && printf '%s  shutdown requested: %s\n' "$stamp" "$*" >> "$here/data/shutdown_requests.txt"
command -v logger >/dev/null 2>&1 && logger -t lcldown -- "keepd requested a shutdown of this computer (sample script: not powering off)" 2>/dev/null
exit 0
