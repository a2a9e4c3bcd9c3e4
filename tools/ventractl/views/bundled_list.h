#pragma once

// The bundled profiles or scenarios as `ventractl profiles` and `scenarios` list them: each name
// with the first sentence of its description and where it lies.

#include "kit/context.h"

namespace ventra::ctl {

// Lists `kind` ("profiles", "scenarios"); a file that cannot be read is listed with the reason.
int listBundled(Context& context, const std::string& kind);

}  // namespace ventra::ctl
