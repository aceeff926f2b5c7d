/* json.h — reads JSON text straight into reflected records.

   refl::json::parse fills a record declared with REFL_MEMBERS (refl/refl.h) from one JSON
   object, with no document tree in between: each member asks the reader for a value of its
   own type, and keys the record does not know are read and thrown away (they must still be
   well-formed JSON).

       struct GLTFBuffer {
           int byteLength = 0;
           std::string uri;
           REFL_MEMBERS(byteLength, uri)
       };

       std::istringstream in(R"({"byteLength": 1024, "uri": "scene1.bin", "name": "ignored"})");
       GLTFBuffer buffer;
       bool ok = refl::json::parse(in, buffer, false, true);   // ok, buffer filled

   The result is true when the whole input was one valid object for the record followed only
   by blanks (and comments when allowed). On a syntax error it is false, with no message and no
   position, and the record keeps what was read before the error. Two number-conversion errors
   are thrown rather than returned: std::invalid_argument ("invalid stod argument") and
   std::out_of_range ("stod argument out of range", e.g. 1e999).

   Reading rules worth knowing:
   - Arrays append to what a vector member already holds; duplicate keys are read again (a
     scalar takes the later value). A pointer member given null stays (or becomes) empty, given
     an object it is created value-initialised and then filled.
   - Numbers: a fraction or exponent is accepted for int members when the value is whole
     ("3.0", "3e0"); "2.5" stores 2 and fails; ints outside the 32-bit range fail. Decimal
     points are converted through the process locale, so any C locale works.
   - Strings come out as UTF-8 whatever the spelling ("\u00e9" or raw bytes). With
     combineSurrogates a UTF-16 surrogate pair becomes one four-byte character; without it each
     surrogate is stored on its own. Raw control characters inside strings fail.
   - allowComments accepts C block comments and // line comments wherever blanks may stand.
   - Nesting deeper than refl::json::max_depth objects and arrays fails the parse (rather than
     running out of stack).

   The reader does not write JSON and keeps no state between calls. */
#pragma once

#include "refl/refl.h"

#include <istream>

namespace refl::json {

// Objects and arrays nested deeper than this fail the parse.
constexpr int max_depth = 256;

// Reads one JSON object from `in` into `record`, described by `info`.
bool parse_record(std::istream& in, const type_info& info, void* record, bool allowComments,
                  bool combineSurrogates);

// Reads one JSON object from `in` into `out`; see the header comment for the rules.
template <reflected T> bool parse(std::istream& in, T& out, bool allowComments, bool combineSurrogates) {
    return parse_record(in, type_info_of(out), &out, allowComments, combineSurrogates);
}

} // namespace refl::json
