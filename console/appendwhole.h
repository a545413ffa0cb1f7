// console/appendwhole.h: appends a block of text to a file whole or not at
// all, with concurrent writers kept apart.
#ifndef COMBOSIM_CONSOLE_APPENDWHOLE_H_
#define COMBOSIM_CONSOLE_APPENDWHOLE_H_

#include <string>

// Appends `block` to the file at `path`, created if absent, under an
// exclusive lock (flock) on the file, so that runs appending at once leave
// whole blocks in some order. The usual termination signals are held back
// from the first byte to the last and delivered afterwards. When a write
// fails part-way (a full disk, a file-size limit), the file is cut back to
// its length before the append. Returns "", or the reason the block is not
// in the file.
std::string appendwhole(const std::string& path, const std::string& block);

#endif  // COMBOSIM_CONSOLE_APPENDWHOLE_H_
