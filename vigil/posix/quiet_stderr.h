#pragma once

namespace vigil {

// Points standard error at /dev/null for the rest of the run: vigil's host reads its standard
// output only, and nothing a library prints (Xlib's refusals, say) may reach anyone.
void sendStandardErrorToNull();

}  // namespace vigil
