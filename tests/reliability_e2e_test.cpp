// Faults a hostile or unlucky setting provokes: a closed pipe, closed standard
// descriptors, an output file that is the volume itself, set-id installs,
// maps larger than the volume and directories that claim the whole device.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/volume_e2e_support.hpp"

namespace {

class reliability : public volume_e2e {};

// [D]F.DAT holding data, laid out last, so that cutting the image short cuts
// the file.
vb::volume_builder one_file(const std::string& data)
{
    vb::volume_builder b;
    const auto d = b.add_directory(vb::MFD_FILE_NUMBER, "D");
    b.add_file(d, "F.DAT", {.data = bytes_of(data)});
    return b;
}

constexpr std::uint32_t F_DAT = 7; // file number of [D]F.DAT (the directory is 6)

} // namespace

TEST_F(reliability, a_closed_pipe_is_a_write_error_and_the_run_goes_on)
{
    const std::string data = patterned(600 * 1024);
    const auto r = run(one_file(data).build(), {"-si", "[d]f.dat", "-d", "[d]f.dat"},
                       {.stdout_to_closed_pipe = true});
    EXPECT_EQ(r.term_signal, 0);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "[d]f.dat -- write error\n");
    ASSERT_EQ(r.files.count("f.dat"), 1u);
    EXPECT_EQ(r.files.at("f.dat").contents, data);
}

TEST_F(reliability, closed_standard_descriptors_take_nothing_the_run_opens)
{
    const std::string data = patterned(2 * 512);
    auto v = one_file(data).build();
    {
        // standard output closed: the device must not become standard output
        const auto r = run(v, {"-si", "[d]f.dat"}, {.close_stdout = true});
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exit_status, 0);
    }
    {
        // both closed, and a read error while the host file is open: the
        // diagnostic must not be written into the copy
        v.image.resize(v.lbn_of_vbn(F_DAT, 2));
        const auto r = run(v, {"-i", "[d]f.dat"}, {.close_stdout = true, .close_stderr = true});
        EXPECT_EQ(r.exit_status, 0);
        ASSERT_EQ(r.files.count("f.dat"), 1u);
        EXPECT_EQ(r.files.at("f.dat").contents, data.substr(0, 512));
    }
}

TEST_F(reliability, the_volume_is_never_the_output_file)
{
    // The device is ./disk.img of the working directory; the volume holds
    // [ARCHIVE]DISK.IMG, and COPY.IMG, a hard link to the image in the
    // working directory. Copying either would empty the volume being read.
    vb::volume_builder b;
    const auto archive = b.add_directory(vb::MFD_FILE_NUMBER, "ARCHIVE");
    b.add_file(archive, "DISK.IMG", {.data = bytes_of(patterned(3 * 512))});
    b.add_file(archive, "COPY.IMG", {.data = bytes_of(patterned(3 * 512))});
    const auto v = b.build();
    const std::string work = scratch.path("work");
    ASSERT_EQ(::mkdir(work.c_str(), 0755), 0);
    const std::string disk = work + "/disk.img";
    v.write_to(disk);
    ASSERT_EQ(::link(disk.c_str(), (work + "/copy.img").c_str()), 0);
    for (const char* spec : {"[archive]disk.img", "[archive]copy.img"}) {
        SCOPED_TRACE(spec);
        for (const char* mode : {"-t", "-i", "-I"}) {
            SCOPED_TRACE(mode);
            const auto r =
                run_odscp({.images = {{"users", disk}}, .args = {mode, spec}, .workdir = work});
            EXPECT_EQ(r.err, std::string(spec) + " -- Can't open output file\n");
            EXPECT_TRUE(r.images_unchanged);
        }
    }
    const vb::block_image& image = v.image;
    std::ifstream in(disk, std::ios::binary);
    const std::string now((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(now.size(), image.device_blocks() * 512);
}

TEST_F(reliability, a_map_cut_at_the_extension_header_limit_says_so)
{
    // one block per header: the primary header and 1100 extension headers
    const std::string data = patterned(1101 * 512);
    vb::volume_builder b({.header_slots = 1200});
    const auto d = b.add_directory(vb::MFD_FILE_NUMBER, "D");
    const auto f = b.add_file(
        d, "LONG.DAT",
        {.data = bytes_of(data),
         .place = {.kind = vb::layout::fragmented, .fragments = 1101, .max_map_words = 2}});
    b.add_file(d, "SHORT.DAT", {.data = bytes_of("short")});
    const auto v = b.build();
    ASSERT_EQ(v.header_chain(f).size(), 1101u);
    const auto r = run(v, {"-si", "[d]long.dat", "short.dat", "-I", "long.dat"});
    const std::string cut = data.substr(0, 1025 * 512);
    EXPECT_EQ(r.out, cut + "short" + cut);
    EXPECT_EQ(r.err, "[d]long.dat -- File map too long\nlong.dat -- File map too long\n");
}

TEST_F(reliability, a_copy_ends_after_as_many_blocks_as_the_device_holds)
{
    // the map names LBNs 1-999 four times over, on a device of little more
    // than 1000 blocks
    constexpr std::uint32_t RUN = 999;
    vb::volume_builder b;
    const auto d = b.add_directory(vb::MFD_FILE_NUMBER, "D");
    const vb::pointer again = vb::run(RUN, 1);
    b.add_file(
        d, "HUGE.DAT",
        {.efblk = 4 * RUN + 1,
         .place = {.kind = vb::layout::explicit_map, .pointers = {again, again, again, again}}});
    const auto v = b.build();
    const std::uint64_t blocks = v.image.device_blocks();
    ASSERT_LT(blocks, 2 * RUN);
    const std::vector<std::uint8_t> bytes = v.bytes();
    const std::string device(bytes.begin(), bytes.end());
    // as many blocks as the device holds: LBNs 1-999, then from LBN 1 again
    const std::string cut =
        device.substr(512, RUN * 512) + device.substr(512, (blocks - RUN) * 512);
    for (const char* mode : {"-sI", "-si"}) {
        SCOPED_TRACE(mode);
        const auto r = run(v, {mode, "[d]huge.dat"});
        EXPECT_EQ(r.out.size(), cut.size());
        EXPECT_TRUE(r.out == cut);
        EXPECT_EQ(r.err, "[d]huge.dat -- File map larger than the volume\n");
    }
}

namespace {

// A copy of the program owned by root with the set-user-id and set-group-id
// bits, as a set-id installation has it.
std::string set_id_copy(const scratch_dir& scratch)
{
    const std::string path = scratch.path("odscp-setid");
    {
        std::ifstream in(ODSCP_BINARY, std::ios::binary);
        std::ofstream out(path, std::ios::binary);
        out << in.rdbuf();
    }
    EXPECT_EQ(::chown(path.c_str(), 0, 0), 0);
    EXPECT_EQ(::chmod(path.c_str(), 06755), 0);
    return path;
}

// The pid of the process other than this one that has path open, or 0.
pid_t process_holding(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    for (const auto& proc : fs::directory_iterator("/proc", ec)) {
        const std::string name = proc.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(name) == ::getpid())
            continue;
        for (const auto& fd : fs::directory_iterator(proc.path() / "fd", ec)) {
            if (fs::read_symlink(fd.path(), ec) == path)
                return std::stoi(name);
        }
    }
    return 0;
}

// The effective id of the "Uid:" or "Gid:" line of /proc/pid/status.
long effective_id(pid_t pid, const std::string& key)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key, 0) == 0) {
            long real = -1, effective = -1;
            std::istringstream(line.substr(key.size())) >> real >> effective;
            return effective;
        }
    }
    return -1;
}

// Reads a FIFO to its end, for at most 20 seconds. Once the writer has
// filled it and waits in a write, its effective ids are taken from /proc.
struct fifo_reader {
    std::string path;
    const std::atomic<bool>* finished = nullptr; // set once the run has ended
    std::string bytes{};
    long euid = -1;
    long egid = -1;

    void operator()()
    {
        // not blocking, so that a writer that never comes cannot hold the test
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
        if (fd < 0)
            return;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        const int capacity = ::fcntl(fd, F_GETPIPE_SZ);
        for (int held = 0;
             held < capacity && !*finished && std::chrono::steady_clock::now() < deadline;) {
            if (::ioctl(fd, FIONREAD, &held) != 0)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (const pid_t writer = process_holding(path); writer != 0) {
            euid = effective_id(writer, "Uid:");
            egid = effective_id(writer, "Gid:");
        }
        char buf[65536];
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 100) < 0)
                break;
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n == 0)
                break; // the writer has closed it (it had written before)
            if (n > 0)
                bytes.append(buf, static_cast<std::size_t>(n));
        }
        ::close(fd);
    }
};

} // namespace

TEST_F(reliability, a_set_id_install_writes_with_the_callers_ids)
{
    // The image may be read by root alone: only the set-id privilege opens it.
    // The host file is a FIFO, so that the writer can be seen while it writes.
    const std::string data = patterned(1024 * 1024);
    vb::volume_builder b;
    const auto d = b.add_directory(vb::MFD_FILE_NUMBER, "D");
    b.add_file(d, "BIG.DAT", {.data = bytes_of(data)});
    const std::string disk = image(b.build());
    ASSERT_EQ(::chmod(disk.c_str(), 0600), 0);
    const std::string work = scratch.path("work");
    ASSERT_EQ(::mkdir(work.c_str(), 0755), 0);
    ASSERT_EQ(::chown(work.c_str(), 1000, 1000), 0);
    const std::string fifo = work + "/big.dat";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    ASSERT_EQ(::chown(fifo.c_str(), 1000, 1000), 0);
    harness::request req{.images = {{"users", disk}},
                         .args = {"-i", "[d]big.dat"},
                         .binary = set_id_copy(scratch),
                         .workdir = work,
                         .user = harness::identity{1000, 1000}};
    SKIP_UNLESS_HARNESS_CAN_RUN(req);
    std::atomic<bool> finished{false};
    fifo_reader reader{.path = fifo, .finished = &finished};
    std::thread reading(std::ref(reader));
    const auto r = run_odscp(req);
    finished = true;
    reading.join();
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(reader.bytes == data);
    EXPECT_EQ(reader.euid, 1000);
    EXPECT_EQ(reader.egid, 1000);
}

TEST_F(reliability, a_device_that_holds_no_blocks_is_not_opened)
{
    const std::string fifo = scratch.path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string dir = scratch.path("dir");
    ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
    for (const std::string& device : {fifo, dir}) {
        SCOPED_TRACE(device);
        const auto r = run_odscp({.images = {{"users", device}},
                                  .args = {"-l", "[000000]"},
                                  .time_limit = std::chrono::milliseconds(5000)});
        EXPECT_EQ(r.err, "[000000] -- Can't open /dev/vmsusers\n");
        EXPECT_EQ(r.exit_status, 0);
    }
}

TEST_F(reliability, a_directory_walk_ends_where_its_map_names_a_block_again)
{
    // A sparse device of 2 TiB. The MFD's map names its first block, then four
    // format-3 pointers of 2^30 blocks from that block on; its end-of-file
    // block is 0xFFFFFFFF. Bounded by the device, one lookup would read the
    // whole device; bounded by the blocks the map names, counted once, it ends
    // at the second pointer.
    vb::volume_builder b({.device_blocks = std::uint64_t{1} << 32});
    const auto d = b.add_directory(vb::MFD_FILE_NUMBER, "D");
    b.add_file(d, "F.DAT", {.data = bytes_of("data")});
    vb::built_volume v = b.build();
    const auto listed = run(v, {"-l", "[000000]"});
    ASSERT_EQ(listed.err, "");
    const auto mfd_lbn = static_cast<std::uint32_t>(v.lbn_of_vbn(vb::MFD_FILE_NUMBER, 1));
    const std::size_t map = std::size_t{v.header(vb::MFD_FILE_NUMBER)[vb::FH_MAP_OFFSET]} * 2;
    auto put_pointer = [&](std::size_t i, std::uint32_t count) {
        const std::uint32_t c = count - 1;
        v.set_header_u16(vb::MFD_FILE_NUMBER, map + 8 * i, static_cast<std::uint16_t>(0xC000 | c >> 16));
        v.set_header_u16(vb::MFD_FILE_NUMBER, map + 8 * i + 2, static_cast<std::uint16_t>(c));
        v.set_header_u16(vb::MFD_FILE_NUMBER, map + 8 * i + 4, static_cast<std::uint16_t>(mfd_lbn));
        v.set_header_u16(vb::MFD_FILE_NUMBER, map + 8 * i + 6, static_cast<std::uint16_t>(mfd_lbn >> 16));
    };
    put_pointer(0, 1);
    for (std::size_t i = 1; i <= 4; ++i)
        put_pointer(i, std::uint32_t{1} << 30);
    v.set_header_u8(vb::MFD_FILE_NUMBER, vb::FH_MAP_IN_USE, 5 * 4);
    v.set_header_efblk(vb::MFD_FILE_NUMBER, 0xFFFFFFFF);
    const auto r = run(v, {"-l", "[000000]", "-c", "[000000]none.dat", "-si", "[d]f.dat"});
    EXPECT_EQ(r.out, listed.out + "data");
    EXPECT_EQ(r.err, "[000000]none.dat -- File does not exist\n");
}
