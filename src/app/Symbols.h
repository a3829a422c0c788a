#pragma once

#include <string>

namespace bugreport {

// Resolves the raw frames of a record written by record::write() ("  #3 0x... in module+0x..."),
// in this process or a later one: each becomes "...: function at file:line" where the module's
// file on disk still is the one that was loaded (same build ID) and carries the names. The
// files are read from the modules section of the record itself; debug information comes from
// the file or from /usr/lib/debug, never from the network.
std::string resolveFrames(const std::string &record);

} // namespace bugreport
