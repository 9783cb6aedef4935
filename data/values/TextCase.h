#pragma once
// Letter-case-blind comparison of names (fields, files, folders, tags).
#include <string>
#include <string_view>

bool SameTextIgnoringCase(std::string_view a, std::string_view b);
std::string UpperCase(std::string_view text);
