// File errors and the one way files are written: to a temporary file beside the target, flushed
// to disk, then renamed into place, so a crash or a full disk never destroys the previous file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace vexalo {

// A file that cannot be opened, read or written; what() holds the file's name and the system's
// message ("NAME: message").
class FileError : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
};

// "NAME: message" for the system error `error` (EIO when it is 0).
std::string SystemMessage(const std::string& fileName, int error);

// Replaces `fileName` with `size` bytes from `data`. Throws FileError, naming `fileName`, after
// removing the temporary file, when anything fails; the previous file is then left as it was.
// A symbolic link is written through: its target is replaced, the link stays. The new file keeps
// the permissions of the one it replaces.
void ReplaceFile(const std::string& fileName, const uint8_t* data, size_t size);

// Replaces `fileName` with a copy of the file `source`, in the same way.
void CopyFileReplacing(const std::string& source, const std::string& fileName);

}  // namespace vexalo
