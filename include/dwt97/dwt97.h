// Everything the dwt97 library offers: sample planes, failure reporting,
// bitmap file access, pictures in other formats and the CDF 9/7 filter bank,
// and for each operation that can fail its twin in namespace dwt97 that
// returns the failure as a value (dwt97::tryLoad, dwt97::tryParse,
// dwt97::tryParsePicture, dwt97::tryForward2d, ...).
#pragma once

#include "dwt97/bitmap.h"
#include "dwt97/failure.h"
#include "dwt97/filterbank.h"
#include "dwt97/picture.h"
#include "dwt97/planes.h"
#include "dwt97/version.h"
