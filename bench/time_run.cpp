// Runs one program and records its wall-clock time, the peak resident size of the
// processes it waited for, and its exit status, for the benchmark script.
//
//     odscp_time_run RESULT_FILE PROGRAM [ARGUMENT...]
//
// RESULT_FILE receives "NANOSECONDS MAX_RSS_KIB STATUS". The program inherits the
// standard streams and the working directory; the exit status is the program's.
#include <cstdint>
#include <cstdio>
#include <ctime>

#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::int64_t now_ns()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

int exit_status(int wait_status)
{
    if (WIFEXITED(wait_status))
        return WEXITSTATUS(wait_status);
    return 128 + WTERMSIG(wait_status);
}

int record(const char* path, std::int64_t ns, long max_rss_kib, int status)
{
    std::FILE* f = std::fopen(path, "w");
    if (f == nullptr) {
        std::perror(path);
        return 1;
    }
    std::fprintf(f, "%lld %ld %d\n", static_cast<long long>(ns), max_rss_kib, status);
    return std::fclose(f) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s RESULT_FILE PROGRAM [ARGUMENT...]\n", argv[0]);
        return 2;
    }
    const std::int64_t start = now_ns();
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("fork");
        return 2;
    }
    if (child == 0) {
        ::execvp(argv[2], argv + 2);
        std::perror(argv[2]);
        ::_exit(127);
    }
    int wait_status = 0;
    rusage usage{};
    if (::wait4(child, &wait_status, 0, &usage) != child) {
        std::perror("wait4");
        return 2;
    }
    const std::int64_t elapsed = now_ns() - start;
    const int status = exit_status(wait_status);
    if (record(argv[1], elapsed, usage.ru_maxrss, status) != 0)
        return 2;
    return status;
}
