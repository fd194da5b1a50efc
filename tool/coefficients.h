// The tool's runs on float coefficients: the analysis of a picture into a
// .npy file or into a picture to look at, and the synthesis of a .npy file
// back into the picture.
#pragma once

#include "options.h"

namespace dwt97::tool {

// The analysis of INPUT, a picture, over --levels levels, top row first:
// written as float32 coefficients when `format` is npy, otherwise (--view)
// as the picture dwtRenderView makes of them. Returns the exit status.
int analyze(const Options& options, Format format);

// The synthesis of INPUT, the coefficients of --levels levels in a .npy
// file: written as float32 samples when `format` is npy, otherwise as the
// picture's bytes (rounded, clamped), top row first. Returns the exit
// status.
int synthesize(const Options& options, Format format);

}  // namespace dwt97::tool
