// The tool's runs on coefficients, the 9/7's float32 or the 5/3's int32:
// the analysis of a picture into a .npy file or into a picture to look at,
// and the synthesis of a .npy file back into the picture.
#pragma once

#include "options.h"

namespace dwt97::tool {

// The analysis of INPUT, a picture, over --levels levels by the --wavelet
// (the 9/7 unless named), top row first: written as float32 (9/7) or int32
// (5/3) coefficients when `format` is npy, otherwise (--view) as the
// picture dwtRenderView makes of them. Returns the exit status.
int analyze(const Options& options, Format format);

// The synthesis of INPUT, the coefficients of --levels levels in a .npy
// file, by the wavelet its type stands for (float32: the 9/7, int32: the
// 5/3; a --wavelet naming the other is a usage error): written as samples
// of the file's type when `format` is npy, otherwise as the picture's bytes
// (rounded, clamped), top row first. Returns the exit status.
int synthesize(const Options& options, Format format);

}  // namespace dwt97::tool
