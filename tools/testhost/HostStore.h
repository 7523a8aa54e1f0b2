// The filter's stored parameters as the test host prepares and reports them. The filter keeps
// its parameters in the registry; a host does not, but a test host sets them up and reads them
// back to test silent replay.
#pragma once

#include "tools/testhost/HostOptions.h"

namespace oryn {

// --clear-store and --store-last-used. Returns 0, or 1 after saying why.
int prepareStore(const Options& options);

// --show-store: prints the stored "Last Used" record in hex.
void showStore();

} // namespace oryn
