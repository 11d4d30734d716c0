#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "link/jtag_link.h"

namespace zorv {

// One part of a cable text after its kind's name, as a form asks for it: a keyed part goes after a
// comma as key=value; the other parts follow colons in their order, each taking `pieces`
// colon-separated pieces of the text (0: all that the other parts leave, so "[::1]" stays whole).
struct CableField {
  const char* label;  // "Host"
  const char* key;    // "layout" for ",layout=NAME"; null for a part after a colon
  int pieces;         // for a part after a colon
  const char* hint;   // shown in an empty field: what is used without it, or an example
  // The values a form offers for it (it takes others too); null for none.
  std::vector<std::string> (*choices)() = nullptr;
};

// One kind of cable that --cable can name: its name (the text before the first colon, or before
// the first comma for a kind that takes options), how it is written, one line of help, whether it
// can be asked for a TCK rate, whether it is opened as soon as it is chosen (a USB adapter that
// cannot be opened says why before any job starts), and how it is opened from the text after the
// name (empty when there is none; hasArgument tells "ppdev" from "ppdev:").
struct CableKind {
  const char* name;
  const char* syntax;
  const char* help;
  bool setsTck;
  bool takesOptions;
  bool opensAtChoice;
  std::unique_ptr<JtagLink> (*open)(const std::string& cableText, const std::string& argument, bool hasArgument,
                                    uint32_t tckPeriodNs);
  // Its parts, for the window's cable dialog (see cable_form.h); a kind without them is offered one
  // field for all that follows its name.
  std::span<const CableField> fields = {};
};

// Every cable kind, the default (lpt) first. The command line's and the window's help and the
// manual-page check all come from here.
std::span<const CableKind> cableKinds();
// The kind a --cable text names, or null.
const CableKind* findCableKind(const std::string& cableText);
// "lpt (default), ppdev[:/dev/parportN], ..., or sim[:OPTIONS]" for help texts.
std::string cableSyntaxList();

// Opens the link that a --cable text names. The link lives for the whole process and is lent to
// one job at a time. tckPeriodNs, when not 0, is the TCK period to ask of a cable that sets one.
// Throws std::invalid_argument with a readable message for a text it cannot use.
std::unique_ptr<JtagLink> openCableLink(const std::string& cableText, uint32_t tckPeriodNs = 0);

// Whether the cable a --cable text names can be asked for a TCK rate.
bool cableSetsTck(const std::string& cableText);
// The names of the cables that can, for messages ("xvc:HOST:PORT and ftdi").
std::string tckCableSyntaxes();

// The TCK range that --tck takes, in Hz, and the period of such a rate in ns, rounded up so that
// TCK never runs faster than asked.
inline constexpr uint64_t kMinTckHz = 1;
inline constexpr uint64_t kMaxTckHz = 1000000000;
uint32_t tckPeriodOfRate(uint64_t hz);

}  // namespace zorv
