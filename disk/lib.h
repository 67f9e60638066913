#pragma once
// The unit of the disk readers: layout and attributes (DiskReaders.h), the
// failure texts of requests (RequestFailure.h) and the descriptive
// properties of a disk (DiskProperties.h).

#include "DiskProperties.h"
#include "DiskReaders.h"
#include "RequestFailure.h"
