// keepd /DRILL: a mains failure rehearsed on the real settings. The real status evaluation, main
// cycle and event dispatcher run on a compressed clock in an environment that describes instead
// of acting, so nothing is switched off, started, sent or written, and the rehearsal may run beside
// the real server.
#pragma once

#include <ostream>

#include "common/date_time.h"
#include "platform/registry.h"

namespace keep::server {

// Prints the road of a mains failure on the settings in `registry` to `out`: each event with the
// time it would come and what each of its actions would do, then what a low battery would change.
// Returns 0 when the road ends in a shutdown of this computer; otherwise 1, with one line per reason
// on `err`. A setup keepd could not start with gives keepd's own start-up message on `err` and 1.
// `start` dates the messages.
int RunFireDrill(const platform::Registry& registry, DateTime start, std::ostream& out, std::ostream& err);

}  // namespace keep::server
