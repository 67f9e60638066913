#pragma once
// The unit of the editing operations and the catalogue lookups: the length
// of a disk (DiskLength.h), the catalogue lookups (Catalogue.h), the shared
// read-modify-write sequence (EditDriveLayout.h), the MBR and GPT entry
// operations (MbrOperations.h, GptOperations.h), the whole-disk operations
// (DiskOperations.h), and FirstWord (Convert.h).

#include "Catalogue.h"
#include "Convert.h"
#include "DiskLength.h"
#include "DiskOperations.h"
#include "EditDriveLayout.h"
#include "GptOperations.h"
#include "MbrOperations.h"
