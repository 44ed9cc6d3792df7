// Reading input files without surprises and writing a result file safely.
//
// Reading: a file is opened without blocking and its type checked before a
// byte is read, so a named pipe or a device in place of a file never hangs a
// run, and at most a fixed number of bytes is read, so a huge file never
// exhausts the memory.
//
// Writing: the folder is checked before any work, and the content goes to a
// temporary file in the same folder that is renamed into place only when it
// is complete, so a failed or killed run never leaves a half-written result
// and never harms an earlier one.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace fixedio {

// ---- reading ----

// No input file of the system comes near this size.
inline constexpr std::size_t kMaxInputBytes = std::size_t{16} << 20;

enum class ReadStatus {
    Ok,
    Missing,     // nothing of that name
    NotAFile,    // a folder
    Special,     // a named pipe, device or socket
    CannotOpen,  // no permission or another open failure
    CannotRead,
};

// The first `limit` bytes of a regular file into `content`; `complete` tells
// whether that was the whole file.  Never blocks and never creates anything.
ReadStatus readFileHead(const std::filesystem::path& file, std::size_t limit, std::string& content,
                        bool& complete);

// ---- writing ----

// Throws fixedio::Error ("the folder ... for the result ... does not exist")
// when the folder that would hold `file` is missing.
void requireParentFolder(const std::filesystem::path& file, std::string_view what);

// requireParentFolder, and also refuses a folder that is write-protected and
// a `file` that exists but is a folder or write-protected (no write
// permission for anyone, which holds for every user including root): an
// earlier result the user protected is never replaced.
void requireWritableResult(const std::filesystem::path& file, std::string_view what);

// Writes `content` to `file` through a temporary file and a rename.  The
// rename is atomic: a reader sees the old file or the complete new one.  No
// fsync: a result is recomputed in milliseconds, and forcing it to disk
// would cost more than the whole correction.
// The temporary file is named ".<name>.part<process id>-<number>": hidden,
// and matched by no pattern of the front end's file lists.  Temporary files
// of that form left in the folder by runs that were killed (their process no
// longer exists) are removed first.
// Throws fixedio::Error naming the file when anything fails, also when the
// existing file is write-protected; the temporary file is removed then.
void writeFileAtomically(const std::filesystem::path& file, std::string_view content);

// The same with the sweep for stale temporary files chosen: a batch writing
// many results into one folder sweeps it with its first write and skips the
// sweep after, which would otherwise read the growing folder for every file.
enum class StaleSweep { Sweep, Skip };
void writeFileAtomically(const std::filesystem::path& file, std::string_view content, StaleSweep sweep);

// The sweep alone: removes from `folder` the temporary files of
// writeFileAtomically left by runs that no longer exist.  For a caller that
// sweeps each folder once and then writes with StaleSweep::Skip.
void sweepStaleTemporaries(const std::filesystem::path& folder);

// Whether `name` is a temporary file name of writeFileAtomically, and the
// process id it carries (0 for the names of earlier versions, which carry
// none).
bool isTemporaryResultName(std::string_view name, pid_t& pid);

// The write(2) that writeFileAtomically uses; tests replace it to inject
// faults such as a full disk.  nullptr restores the real one.
using WriteFunction = ssize_t (*)(int fd, const void* data, std::size_t size);
void setWriteFunction(WriteFunction f);

} // namespace fixedio
