// The command line of the POSIX player. File names there hold "/", which the
// option text reads as the start of a switch; the player therefore hands the
// option parser its names with every "/" stood in for by a character no
// switch and no name uses, and puts the "/" back in the names it gets back.
//
// An argument is taken as a file name when it holds a "/" after its first
// character (a switch never does), or when it starts with "/" and names a
// file or directory that exists (the part before a "|offset" counts).
// Everything else is handed over as it is.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "options.h"

namespace vemo::player {

constexpr char kSlashStandIn = '\x7f';

// exists: whether a path exists (null: ask the file system).
std::string PosixCommandLine(const std::vector<std::string>& arguments,
                             const std::function<bool(const std::string&)>& exists = {});

// The names of the list with their "/" back.
MovieList RestoreSlashes(const MovieList& list);

}  // namespace vemo::player
