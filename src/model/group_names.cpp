#include "model/group_names.h"

#include <algorithm>
#include <cctype>

namespace quorvale {

namespace {

/// `s` in upper case.
std::string upper(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return s;
}

}  // namespace

std::optional<std::string> group_names_fault(const std::vector<std::string>& names) {
  if (names.size() > static_cast<std::size_t>(kMaxGroups)) {
    return "GROUPS names " + std::to_string(names.size()) + " groups; at most " + std::to_string(kMaxGroups) +
           " are allowed.";
  }
  for (std::size_t k = 0; k < names.size(); ++k) {
    const std::string& w = names[k];
    const bool letters = std::all_of(w.begin(), w.end(), [](char ch) {
      return std::isalnum(static_cast<unsigned char>(ch)) != 0 || ch == '_';
    });
    if (w.empty() || !letters || std::isalpha(static_cast<unsigned char>(w.front())) == 0 ||
        w.size() > kGroupNameLength) {
      return "Group name " + w + " is not a letter followed by up to " + std::to_string(kGroupNameLength - 1) +
             " letters, digits or _.";
    }
    for (std::size_t before = 0; before < k; ++before) {
      if (upper(names[before]) == upper(w)) return "Group name " + w + " is given twice.";
    }
  }
  return std::nullopt;
}

}  // namespace quorvale
