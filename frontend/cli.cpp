// The command line: option letters, one file specification's work from
// resolution to output, and the diagnostic line.
#include "frontend/cli.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frontend/filespec.hpp"
#include "frontend/resolve.hpp"
#include "ods2/directory.hpp"
#include "ods2/walk.hpp"
#include "output/copy.hpp"

run_options options;

void show_usage()
{
    std::fprintf(stderr, "usage: %s [-t] [-i] [-b] [-d] [-f] [-s] vmsfile\n", current_arg[0]);
    std::exit(255);
}

const char* odscp::basename(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

namespace {

void apply_option(char letter)
{
    switch (letter) {
    case 't':
        options.mode = MODE_TEXT;
        break;
    case 'T':
        options.mode = MODE_TEXT;
        ++options.drop_control;
        break;
    case 'i':
        options.mode = MODE_IMAGE;
        break;
    case 'I':
        options.mode = MODE_BLOCKS;
        break;
    case 'b':
        options.mode = MODE_BINARY;
        break;
    case 's':
        options.to_stdout = 1;
        break;
    case 'd':
    case 'f':
        options.to_stdout = 0;
        break;
    case 'l':
        ++options.list_count; // wraps at 256 like the byte it is
        break;
    case 'c':
        options.list_count = 0;
        break;
    default:
        std::fprintf(stderr, "Invalid option (%c)\n", letter);
        break;
    }
}

// Standard output is flushed after every file specification that wrote to it, so a
// full disk or a broken pipe is reported against the argument that hit it,
// once: not again when the copy has reported it already.
void flush_stdout(bool report_failure)
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        if (report_failure)
            report("write error");
        std::clearerr(stdout);
    }
}

void list_current_directory()
{
    if (resolve_filespec()) {
        list_directory(current_dir);
        flush_stdout(true);
    }
}

// A host file is closed as soon as its copy ends; the final flush of its
// buffer can fail too.
void copy_target_file()
{
    if (!resolve_filespec() || !open_output())
        return;
    const bool copied = copy_file() != 0;
    if (output_stream == stdout)
        flush_stdout(copied);
    else if (std::fclose(output_stream) != 0 && copied)
        report("write error");
    output_stream = nullptr;
}

} // namespace

void parse_options()
{
    for (const char* p = *current_arg + 1; *p != '\0'; ++p)
        apply_option(*p);
}

void process_filespec()
{
    const char* arg = *current_arg;
    const std::size_t length = ::strnlen(arg, MAX_FILESPEC + 1);
    if (length > MAX_FILESPEC) {
        report("Filespec too long");
        return;
    }
    std::memcpy(filespec.buffer, arg, length + 1);
    if (options.list_count != 0)
        list_current_directory();
    else
        copy_target_file();
}
