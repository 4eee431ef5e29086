// SPDX-License-Identifier: Apache-2.0
// The programs' device flushes.
#include <unistd.h>

#include "FileSeam.h"

int SeamSync(int fd) { return fdatasync(fd); }

int SeamSyncDirectory(int fd) { return fsync(fd); }
