#pragma once

namespace quorvale {

struct ModelContext;

/// PROC TITLE: takes the page title from the statement's text as typed.
void title(ModelContext& run);

}  // namespace quorvale
