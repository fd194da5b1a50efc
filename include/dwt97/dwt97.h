// Everything the dwt97 library offers: sample planes, failure reporting,
// bitmap file access, pictures in other formats, the CDF 9/7 filter bank
// float coefficients with their .npy files and the
// reversible 5/3 in integers; and for each process-ending
// operation its namesake in namespace dwt97 that returns the failure as a value
// (dwt97::bmpLoad, dwt97::parsePicture, dwt97::dwtForward2d, ...).
#pragma once

#include "dwt97/bitmap.h"
#include "dwt97/coefficients.h"
#include "dwt97/failure.h"
#include "dwt97/filterbank.h"
#include "dwt97/npy.h"
#include "dwt97/picture.h"
#include "dwt97/planes.h"
#include "dwt97/reversible.h"
#include "dwt97/version.h"
