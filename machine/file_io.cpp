#include "machine/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vexalo {

namespace {

constexpr int kTemporaryNameAttempts = 100;

// Opens a new file beside `fileName` that did not exist before, so an unrelated file is never
// overwritten; sets `name` to its path. A failure names the file to be replaced, which is what the
// user knows.
std::FILE* CreateTemporaryFile(const std::string& fileName, std::string& name) {
    int error = EEXIST;
    for (int attempt = 0; attempt < kTemporaryNameAttempts && error == EEXIST; ++attempt) {
        name = fileName + ".tmp" + (attempt ? std::to_string(attempt) : std::string());
        if (std::FILE* f = std::fopen(name.c_str(), "wbx")) return f;
        error = errno;
    }
    throw FileError(SystemMessage(fileName, error));
}

[[noreturn]] void Fail(const std::string& temporaryName, const std::string& message) {
    std::error_code ignored;
    std::filesystem::remove(temporaryName, ignored);
    throw FileError(message);
}

// The file a write to `fileName` must replace: a symbolic link (a save kept in a synchronised
// folder, say) is followed to its target, so the link stays and the target gets the bytes.
std::string ReplacedFile(const std::string& fileName) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(fileName, ec)) return fileName;
    const std::filesystem::path target = std::filesystem::weakly_canonical(fileName, ec);
    return ec ? fileName : target.string();
}

// Writes `fill` into a new temporary file beside `fileName`, then renames it over the file,
// keeping the permissions of the file it replaces. `fill` returns 0 or the system error.
template <class Fill>
void Replace(const std::string& requested, Fill fill) {
    const std::string fileName = ReplacedFile(requested);
    std::string temporaryName;
    std::FILE* f = CreateTemporaryFile(fileName, temporaryName);
    errno = 0;
    int error = fill(f);
    bool ok = error == 0 && std::fflush(f) == 0;
#if defined(__unix__) || defined(__APPLE__)
    struct stat previous {};
    if (ok && ::stat(fileName.c_str(), &previous) == 0)
        ok = ::fchmod(::fileno(f), previous.st_mode & 07777) == 0;
    ok = ok && ::fsync(::fileno(f)) == 0;  // the data is on disk before it takes the name
#endif
    if (!ok && error == 0) error = errno;
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) Fail(temporaryName, SystemMessage(requested, error));

    std::error_code ec;
    std::filesystem::rename(temporaryName, fileName, ec);
    if (ec) Fail(temporaryName, requested + ": " + ec.message());
}

}  // namespace

std::string SystemMessage(const std::string& fileName, int error) {
    return fileName + ": " + std::strerror(error != 0 ? error : EIO);
}

void ReplaceFile(const std::string& fileName, const uint8_t* data, size_t size) {
    Replace(fileName, [&](std::FILE* f) {
        return std::fwrite(data, 1, size, f) == size ? 0 : (errno != 0 ? errno : EIO);
    });
}

void CopyFileReplacing(const std::string& source, const std::string& fileName) {
    errno = 0;
    std::FILE* in = std::fopen(source.c_str(), "rb");
    if (!in) throw FileError(SystemMessage(source, errno));
    int readError = 0;
    try {
        Replace(fileName, [&](std::FILE* out) {
            char buffer[65536];
            size_t got;
            while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
                if (std::fwrite(buffer, 1, got, out) != got) return errno != 0 ? errno : EIO;
            }
            if (std::ferror(in)) {
                readError = errno != 0 ? errno : EIO;
                return readError;
            }
            return 0;
        });
    } catch (...) {
        std::fclose(in);
        if (readError != 0) throw FileError(SystemMessage(source, readError));
        throw;
    }
    std::fclose(in);
}

}  // namespace vexalo
