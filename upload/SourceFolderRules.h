#pragma once
// The source folder on the hotel's server that a PMS choice and a location
// or property code name: "\\" + code + the PMS's tail.
#include <optional>
#include <string>

// Nothing for a PMS text other than exactly "OnQ" or "Corvane Ledger".
std::optional<std::string> DerivedSourceFolder(const std::string& pms, const std::string& code);

// A saved source folder ends in a separator ("/" here; "\" is accepted).
std::string WithTrailingSeparator(const std::string& folder);

// Whether the scan lists anything for this PMS text: exactly "OnQ" or
// "Corvane Ledger". Any other text is stored as typed, and lists nothing.
bool IsKnownPms(const std::string& pms);
