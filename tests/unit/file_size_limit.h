// Makes writes fail as on a full disk, for the superuser too: while an object lives, no file of
// this process may grow past `bytes` (writes beyond fail with EFBIG instead of raising SIGXFSZ).
#pragma once

#include <sys/resource.h>

#include <csignal>

namespace vexalo::test {

class FileSizeLimit {
   public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        savedSignal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, savedSignal_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

   private:
    rlimit saved_{};
    void (*savedSignal_)(int) = nullptr;
};

}  // namespace vexalo::test
