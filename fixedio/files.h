// Writing a result file safely: the folder is checked before any work, and
// the content goes to a temporary file in the same folder that is renamed
// into place only when it is complete, so a failed run never leaves a
// half-written result and never harms an earlier one.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace fixedio {

// Throws fixedio::Error ("the folder ... for the result ... does not exist")
// when the folder that would hold `file` is missing.
void requireParentFolder(const std::filesystem::path& file, std::string_view what);

// Writes `content` to `file` through a temporary file and a rename.  The
// rename is atomic: a reader sees the old file or the complete new one.  No
// fsync: a result is recomputed in milliseconds, and forcing it to disk
// would cost more than the whole correction.
// Throws fixedio::Error naming the file when anything fails; the temporary
// file is removed then.
void writeFileAtomically(const std::filesystem::path& file, std::string_view content);

} // namespace fixedio
