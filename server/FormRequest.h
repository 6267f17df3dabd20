// Parsing of what an update client sends: the request target's query and the
// form-encoded body, turned into a list of requested items.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantle_server {

// Client text quoted in a refusal, cut short so that a reply stays small.
std::string Quote(std::string_view text);

using FormFields = std::vector<std::pair<std::string, std::string>>;

// Percent-decodes text; with plusIsSpace a '+' stands for a space, as form
// encoding has it. False for a '%' that is not followed by two hex digits.
bool PercentDecode(std::string_view text, bool plusIsSpace, std::string& out);

// Splits "name=value&name=value" into decoded pairs, in order. Empty segments
// (as in "a=1&&b=2" or a trailing '&') are skipped; a segment without '=' is a
// field with an empty value. False with a reason when an escape is broken.
bool ParseFormText(std::string_view text, FormFields& out, std::string& error);

// The request target split into its path (as sent, not decoded) and its query.
struct Target {
  std::string path;
  std::string query;  // without the '?'
};
Target SplitTarget(std::string_view target);

// One thing a client asks for. Whole files and signature files are both just
// names; byte ranges carry an offset and a length as well.
struct RequestedItem {
  std::string name;
  bool ranged = false;
  std::uint64_t from = 0;
  std::uint64_t size = 0;
};

// Turns the fields f1..fn (and from<n>/size<n> for ranges) into items in
// numbering order. The numbering must start at 1 and have no gaps; names are
// "f", "from" or "size" followed by a decimal number without leading zeros;
// no field may appear twice, and a range needs both from<n> and size<n> with
// decimal values. False with a reason otherwise.
bool ParseItems(const FormFields& fields, std::vector<RequestedItem>& out, std::string& error);

}  // namespace vantle_server
