// Everything the dwt97 library offers: sample planes, failure reporting,
// bitmap file access, pictures in other formats and the CDF 9/7 filter bank.
#pragma once

#include "dwt97/version.h"
#include "dwt97/failure.h"
#include "dwt97/planes.h"
#include "dwt97/bitmap.h"
#include "dwt97/filterbank.h"
#include "dwt97/picture.h"
