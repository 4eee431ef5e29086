// SPDX-License-Identifier: Apache-2.0
#include "BenchSyncs.h"

#include <unistd.h>

#include "FileSeam.h"

namespace {

std::size_t asked = 0;
bool syncs_free = false;

}  // namespace

std::size_t SyncsAsked() { return asked; }

void MakeSyncsFree(bool free) { syncs_free = free; }

int SeamSync(int fd) {
  ++asked;
  return syncs_free ? 0 : fdatasync(fd);
}

int SeamSyncDirectory(int fd) {
  ++asked;
  return syncs_free ? 0 : fsync(fd);
}
