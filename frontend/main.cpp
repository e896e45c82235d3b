// odscp: copies files and directory listings off a Files-11 ODS-2 (VMS) volume.
// Arguments are taken strictly in order: "-letters" change the options for the
// file specifications that follow; every other argument is one
// file specification, listed or copied. A failure on one is reported and the run goes
// on; the exit status is 0 whenever arguments were given.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "frontend/cli.hpp"
#include "ods2/device.hpp"
#include "output/copy.hpp"

namespace {

// A descriptor 0, 1 or 2 left closed by the caller would be taken by the
// device or an output file, and diagnostics would be written into it: each
// closed one gets /dev/null, or failing that the root directory, which no
// write reaches.
void fill_standard_descriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        int got = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (got < 0)
            got = ::open("/", O_RDONLY | O_DIRECTORY);
        if (got >= 0 && got != fd) {
            static_cast<void>(::dup2(got, fd));
            ::close(got);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    static char fallback_name[] = "odscp";
    static char* const fallback[] = {fallback_name, nullptr};
    current_arg = (argc > 0 && argv[0] != nullptr) ? argv : fallback;
    fill_standard_descriptors();
    // A reader that has gone makes a write fail with EPIPE, reported as a
    // write error like any other; the run goes on with the next argument.
    static_cast<void>(std::signal(SIGPIPE, SIG_IGN));
    // A set-id installation runs as the caller, but for the open of a device.
    if (!give_up_privilege()) {
        std::fprintf(stderr, "Can't give up set-id privileges\n");
        return 255;
    }
    if (argc <= 1)
        show_usage();
    prepare_standard_output();
    if (odscp::basename(argv[0])[0] == 'l')
        ++options.list_count;
    for (int i = 1; i < argc; ++i) {
        current_arg = argv + i;
        if (**current_arg == '-')
            parse_options();
        else
            process_filespec();
    }
    return 0;
}
