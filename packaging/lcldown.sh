#!/bin/sh
# Run by keepd when this computer is to be shut down (the end of the battery countdown, a scheduled
# shutdown, a client's shutdown request). keepd has already told the UPS when to switch off; this
# powers the computer off in order through systemd. Rehearse the road without it: keepd /DRILL
logger -t lcldown -- "keepd: shutting this computer down" 2>/dev/null || true
exec systemctl poweroff
