// Open forks: FSOpenFork and the calls on the numbers it hands out.
//
// A fork reference number is an index (1 and up) into one process-wide table
// of open forks; a closed number is handed out again. The data fork is the
// regular file itself, opened without following a link; the resource fork is
// a handle on the item's fork stores (StoreIO.h), which it reads from the
// primary store and, when emptied, empties in every store. Each call on a
// resource fork reads the stores afresh (another program may change them
// between calls), so it is best read in large pieces.
//
// Statuses beyond the File Manager's usual ones:
//   notAFileErr        a fork of a folder;
//   afpObjectTypeErr   a fork of a link, FIFO, socket or device (never opened);
//   errFSBadForkName   a name other than "" and "RESOURCE_FORK";
//   rfNumErr           a number that is not open;
//   wrPermErr          changing a fork opened for reading only;
//   paramErr           a resource-fork size other than 0 or the current one
//                      (only emptying is supported), a position before 0;
//   tmfoErr            too many forks open at once;
//   ioErr              a store that does not parse (nothing is changed).
#pragma once

#include <cstddef>

#include "platform/Files.h"

namespace tv::files {

// How many fork numbers are open now (for tests: every open has its close).
size_t OpenForkCount();

}  // namespace tv::files
