#pragma once

#include <string>
#include <vector>

#include "cable_choice/cable_port.h"

namespace zorv {

// A cable text as a form shows it: one value per field of its kind, and the text built back from
// the values. Built back, a text is the one taken apart (keyed parts in the fields' order).

// The fields a form asks for: the kind's own, or one field for all after the kind's name.
std::vector<CableField> cableFormFields(const CableKind& kind);
// The values of those fields in a text of that kind (empty for a part the text leaves out).
std::vector<std::string> cableFieldValues(const CableKind& kind, const std::string& cableText);
// The text the values make: empty values are left out, except between two that are not (there the
// text keeps the gap, and opening it says what is missing). Values are trimmed of spaces.
std::string composeCableText(const CableKind& kind, const std::vector<std::string>& values);

}  // namespace zorv
