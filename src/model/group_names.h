#pragma once
// The names of the groups of animals of a model (GROUPS = F M): how many
// there may be and what a name may look like.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quorvale {

/// Most groups a model may have.
inline constexpr int kMaxGroups = 10;
/// Longest name of a group.
inline constexpr std::size_t kGroupNameLength = 10;

/// The first fault of a list of group names, checked in order: more than
/// kMaxGroups names, a name that is not a letter followed by letters, digits
/// or _ (kGroupNameLength characters at most), a name given twice (case
/// does not matter). None when the names are fit.
std::optional<std::string> group_names_fault(const std::vector<std::string>& names);

}  // namespace quorvale
