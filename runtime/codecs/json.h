// The JSON decoder's built-in routine (`unescape`, entry json-unescape): the rest of the JSON
// and CSV codecs is library code in environment/json.kov and environment/csv.kov.
//
// Moving memory: `unescape` may widen the string's buffer in place.
#pragma once
#include "runtime/cell.h"

namespace kov::json {

// Replaces the JSON escapes of a string from its index to its tail, in place; the string ends
// after the last decoded character. Raises script/invalid-data for a broken escape.
void unescape(Cell& str);
void register_routines();

}  // namespace kov::json
