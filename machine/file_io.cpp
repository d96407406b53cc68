#include "machine/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#if defined(__unix__) || defined(__APPLE__)
#include <unistd.h>
#endif

namespace vexalo {

namespace {

constexpr int kTemporaryNameAttempts = 100;

// Opens a new file beside `fileName` that did not exist before, so an unrelated file is never
// overwritten; sets `name` to its path.
std::FILE* CreateTemporaryFile(const std::string& fileName, std::string& name) {
    int error = EEXIST;
    for (int attempt = 0; attempt < kTemporaryNameAttempts && error == EEXIST; ++attempt) {
        name = fileName + ".tmp" + (attempt ? std::to_string(attempt) : std::string());
        if (std::FILE* f = std::fopen(name.c_str(), "wbx")) return f;
        error = errno;
    }
    throw FileError(SystemMessage(name, error));
}

[[noreturn]] void Fail(const std::string& temporaryName, const std::string& message) {
    std::error_code ignored;
    std::filesystem::remove(temporaryName, ignored);
    throw FileError(message);
}

}  // namespace

std::string SystemMessage(const std::string& fileName, int error) {
    return fileName + ": " + std::strerror(error != 0 ? error : EIO);
}

void ReplaceFile(const std::string& fileName, const uint8_t* data, size_t size) {
    std::string temporaryName;
    std::FILE* f = CreateTemporaryFile(fileName, temporaryName);
    errno = 0;
    bool ok = std::fwrite(data, 1, size, f) == size && std::fflush(f) == 0;
#if defined(__unix__) || defined(__APPLE__)
    ok = ok && ::fsync(::fileno(f)) == 0;  // the data is on disk before it takes the name
#endif
    int error = ok ? 0 : errno;
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) Fail(temporaryName, SystemMessage(temporaryName, error));

    std::error_code ec;
    std::filesystem::rename(temporaryName, fileName, ec);
    if (ec) Fail(temporaryName, fileName + ": " + ec.message());
}

}  // namespace vexalo
