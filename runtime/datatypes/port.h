// port!: an object whose behaviour a scheme written in Kov supplies. Its context is a copy of
// system/standard/port, whose first three fields are `spec` (the spec object), `scheme` (the
// scheme's word) and `actor` (the scheme's actor: an object of functions named after
// actions). Every series and I/O action applied to a port is forwarded by name to the actor's
// function, called with the port and then the action's arguments in spec order, each
// refinement as a logic! followed by its argument (or none when it was not used); /part and
// /dup of append, insert and change come as integer!s, /part used from 0 and /dup above 1.
// `read` and `write` are made of the actor's open, copy, insert and close; `length?` takes
// the actor's answer, which must be an integer! (script/invalid-arg otherwise). The runtime
// does no I/O of its own for ports.
//
// Cell: an object cell (see object.h) with type id 48.
//
// Errors: access/no-scheme, unknown-scheme and invalid-actor from make; access/invalid-port
// for a port whose actor field is not an object; access/no-port-action for an action the
// actor has no function for (an actor given as a handle! has no native table to serve
// actions from, so it raises this for every forwarded action). Errors of the actor's
// function pass through.
//
// Moving memory: every forwarded action runs Kov code.
#pragma once
#include "runtime/cell.h"

namespace kov::port {

void init();

}  // namespace kov::port
