// The images of a test host run: the source (a file or a generated pattern), the mask, and the
// output with its checks.
#pragma once

#include "tools/testhost/HostOptions.h"
#include "tools/testhost/ImageFile.h"

namespace oryn {

// Builds the source image with `planes` planes from a file or the generated pattern.
// Returns 0, or 1 after saying why.
int loadSource(const Options& options, Image& source);

// Reads the --mask file, which must have the source's size. Returns 0, or 1 after saying why.
int loadMask(const Options& options, const Image& source, Image& mask);

// Compares the output with --compare and checks --expect-rows. Returns 0 when every check holds.
int checkOutput(const Options& options, const Image& output);

// Writes the first (at most 4) planes of the output: to a temporary name, then renamed, so that
// a failed write never leaves a partial file under the requested name. Returns 0, or 1 after
// saying why.
int writeOutput(const Options& options, const Image& output);

} // namespace oryn
