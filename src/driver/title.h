#pragma once

namespace quorvale {

struct Run;

/// PROC TITLE: takes the page title from the statement's text as typed.
void title(Run& run);

}  // namespace quorvale
