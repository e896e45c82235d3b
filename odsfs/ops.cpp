// The FUSE operations: lookups through a bounded cache of names, directory
// listings that resume where the last one stopped, reads, attributes, and
// EROFS for every change.
#include "odsfs/ops.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>

#include "ods2/layout.hpp"
#include "ods2/volume.hpp"
#include "odsfs/cache.hpp"
#include "odsfs/content.hpp"
#include "odsfs/names.hpp"
#include "odsfs/nodes.hpp"

namespace odsfs {

namespace {

// libfuse keeps a file handle as a 64-bit number: odsfs puts the address of
// the open file or directory there when it opens one, and reads it back.
template <typename T> T* handle_of(const fuse_file_info* fi)
{
    return reinterpret_cast<T*>(fi->fh); // NOLINT(performance-no-int-to-ptr)
}

// The volume never changes under the mount: what the kernel has been told
// stays true.
constexpr double TIMEOUT_SECONDS = 86400.0;
// Names looked up or listed, and the inode each leads to.
constexpr std::size_t NAME_CACHE_ENTRIES = 65536;

struct name_target {
    std::uint64_t inode = 0;
    std::string spec;
};

bounded_cache<std::string, name_target> names(NAME_CACHE_ENTRIES);
std::vector<std::uint8_t> read_buffer;
std::unique_ptr<dir_walk> lookup_walk = std::make_unique<dir_walk>();

// Replies with an error; replies' own failures (the request was interrupted) need nothing.
void fail(fuse_req_t req, int error)
{
    fuse_reply_err(req, error);
}

std::string name_key(std::uint64_t parent, const std::string& upper)
{
    return std::to_string(parent) + "/" + upper;
}

void remember(std::uint64_t parent, const std::string& parent_spec, const dir_entry& e,
              const shown_name& shown)
{
    const std::string upper = lookup_key_of(shown.name.data(), shown.name.size());
    names.put(name_key(parent, upper),
              {inode_of(e.fid, shown.directory), child_spec(parent_spec, e, shown.directory)});
}

// The node of a directory inode; nullptr after replying with the error.
node* directory_node(fuse_req_t req, fuse_ino_t ino)
{
    node* n = find_node(ino);
    if (n == nullptr)
        fuse_reply_err(req, EIO);
    else if (!n->directory)
        fuse_reply_err(req, ENOTDIR);
    return n != nullptr && n->directory ? n : nullptr;
}

// Scans the directory for upper, remembering every name it passes.
bool scan_for(std::uint64_t parent, const node& dir, const std::string& upper, name_target& found)
{
    start_walk(*lookup_walk, dir.header);
    dir_entry e;
    bool newest = false;
    report_about(dir.spec);
    while (next_walk_entry(*lookup_walk, e, newest)) {
        shown_name shown[2];
        const std::size_t count = shown_names(e, newest, settings.versions, settings.lower, shown);
        for (std::size_t i = 0; i < count; ++i) {
            remember(parent, dir.spec, e, shown[i]);
            if (lookup_key_of(shown[i].name.data(), shown[i].name.size()) == upper) {
                found = {inode_of(e.fid, shown[i].directory),
                         child_spec(dir.spec, e, shown[i].directory)};
                return true;
            }
        }
    }
    return false;
}

void reply_entry(fuse_req_t req, const node& n)
{
    fuse_entry_param e{};
    e.ino = n.inode;
    fill_stat(n, e.attr);
    e.attr_timeout = TIMEOUT_SECONDS;
    e.entry_timeout = TIMEOUT_SECONDS;
    fuse_reply_entry(req, &e);
}

void reply_no_entry(fuse_req_t req)
{
    fuse_entry_param e{};
    e.entry_timeout = TIMEOUT_SECONDS; // the kernel remembers the name is absent
    fuse_reply_entry(req, &e);
}

void do_lookup(fuse_req_t req, fuse_ino_t parent, const char* name)
{
    const node* dir = directory_node(req, parent);
    if (dir == nullptr)
        return;
    const std::string upper = lookup_key_of(name, std::strlen(name));
    name_target target;
    if (const name_target* held = names.find(name_key(parent, upper)))
        target = *held;
    else if (!scan_for(parent, *dir, upper, target))
        return reply_no_entry(req);
    const node* child = find_node(target.inode, target.spec);
    if (child == nullptr)
        return fail(req, EIO);
    reply_entry(req, *child);
}

void do_getattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info*)
{
    const node* n = find_node(ino);
    if (n == nullptr)
        return fail(req, EIO);
    struct stat st;
    fill_stat(*n, st);
    fuse_reply_attr(req, &st, TIMEOUT_SECONDS);
}

void do_open(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi)
{
    if ((fi->flags & O_ACCMODE) != O_RDONLY || (fi->flags & O_TRUNC) != 0)
        return fail(req, EROFS);
    // Bytes need no state per open file: ENOSYS tells the kernel to read
    // without opening (and releasing), two requests fewer per file.
    if (!settings.text)
        return fail(req, ENOSYS);
    const node* n = find_node(ino);
    if (n == nullptr)
        return fail(req, EIO);
    if (n->directory)
        return fail(req, EISDIR);
    fi->fh = reinterpret_cast<std::uint64_t>(open_content(*n).release());
    fi->keep_cache = 1;
    if (fuse_reply_open(req, fi) != 0)
        delete handle_of<open_file>(fi);
}

// A read of a file's bytes handed to the kernel as pieces of the image, which
// libfuse splices from the image into the reply; false when the range is not
// mapped by a few runs that lie inside the device (the reply is then copied,
// and a failure reported).
// Smaller reads are copied: setting up a splice costs more than copying them.
constexpr std::size_t SPLICE_FROM = std::size_t{64} * 1024;

bool reply_spliced(fuse_req_t req, open_file& f, std::uint64_t offset, std::size_t size)
{
    constexpr std::size_t MAX_PIECES = 16;
    struct {
        fuse_bufvec vec;
        fuse_buf more[MAX_PIECES - 1];
    } pieces{};
    std::size_t count = 0;
    const std::uint64_t end = std::min<std::uint64_t>(f.size, offset + size);
    for (std::uint64_t at = offset; at < end; ++count) {
        block_run run;
        const auto vbn = static_cast<std::int64_t>(at / BLOCK_SIZE + 1);
        if (count == MAX_PIECES || !map_vblock(vbn, f.header, run, f.cursor) ||
            (volume.device_blocks != 0 &&
             (run.lbn >= volume.device_blocks || run.count > volume.device_blocks - run.lbn)))
            return false;
        const std::uint64_t skip = at % BLOCK_SIZE;
        const std::uint64_t length =
            std::min<std::uint64_t>(end - at, run.count * BLOCK_SIZE - skip);
        fuse_buf& b = count == 0 ? pieces.vec.buf[0] : pieces.more[count - 1];
        b.size = static_cast<std::size_t>(length);
        b.flags = static_cast<fuse_buf_flags>(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
        b.fd = volume.fd;
        b.pos = static_cast<off_t>(run.lbn * BLOCK_SIZE + skip);
        at += length;
    }
    pieces.vec.count = count;
    fuse_reply_data(req, &pieces.vec, FUSE_BUF_SPLICE_MOVE);
    return true;
}

// Where reads of files the kernel did not open go: the last file read.
std::unique_ptr<open_file> unopened_reader;
std::uint64_t unopened_inode = 0;

// The open file a read is for; nullptr when its node could not be read.
open_file* reader_for(fuse_ino_t ino, const fuse_file_info* fi)
{
    if (fi->fh != 0)
        return handle_of<open_file>(fi);
    if (unopened_reader == nullptr || unopened_inode != ino) {
        const node* n = find_node(ino);
        if (n == nullptr)
            return nullptr;
        unopened_reader = open_content(*n);
        unopened_inode = ino;
    }
    return unopened_reader.get();
}

void do_read(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info* fi)
{
    open_file* f = reader_for(ino, fi);
    if (f == nullptr)
        return fail(req, EIO);
    if (off >= 0 && !f->text && size >= SPLICE_FROM &&
        reply_spliced(req, *f, static_cast<std::uint64_t>(off), size))
        return;
    const std::uint8_t* data = nullptr;
    std::size_t length = 0;
    if (off < 0)
        return fail(req, EINVAL);
    const int error = read_content(*f, static_cast<std::uint64_t>(off), std::min(size, MAX_READ),
                                   read_buffer, data, length);
    if (error != 0)
        return fail(req, error);
    fuse_reply_buf(req, reinterpret_cast<const char*>(data), length);
}

void do_release(fuse_req_t req, fuse_ino_t, fuse_file_info* fi)
{
    delete handle_of<open_file>(fi);
    fuse_reply_err(req, 0);
}

// An open directory: its walk, and the names to list from position on (0 is
// ".", 1 "..", then the entries' names in order).
struct open_directory {
    std::uint64_t inode = 0;
    node dir;
    std::unique_ptr<dir_walk> walk = std::make_unique<dir_walk>();
    off_t position = 0;
    bool ended = false;
    dir_entry entry;
    shown_name pending[2];
    std::size_t pending_count = 0;
    std::size_t pending_next = 0;
};

void rewind(open_directory& d)
{
    start_walk(*d.walk, d.dir.header);
    d.position = 0;
    d.ended = false;
    d.pending_count = 0;
    d.pending_next = 0;
}

// The name at d.position, without moving on; false at the end.
bool peek_name(open_directory& d, std::string& name, std::uint64_t& inode, bool& directory)
{
    if (d.position < 2) {
        name = d.position == 0 ? "." : "..";
        inode = d.inode;
        directory = true;
        return true;
    }
    while (d.pending_next == d.pending_count) {
        bool newest = false;
        if (d.ended || !next_walk_entry(*d.walk, d.entry, newest)) {
            d.ended = true;
            return false;
        }
        d.pending_count =
            shown_names(d.entry, newest, settings.versions, settings.lower, d.pending);
        d.pending_next = 0;
        for (std::size_t i = 0; i < d.pending_count; ++i)
            remember(d.inode, d.dir.spec, d.entry, d.pending[i]);
    }
    const shown_name& s = d.pending[d.pending_next];
    name = s.name;
    inode = inode_of(d.entry.fid, s.directory);
    directory = s.directory;
    return true;
}

void move_on(open_directory& d)
{
    if (d.position >= 2)
        ++d.pending_next;
    ++d.position;
}

void do_opendir(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi)
{
    const node* n = directory_node(req, ino);
    if (n == nullptr)
        return;
    auto d = std::make_unique<open_directory>();
    d->inode = ino;
    d->dir = *n;
    rewind(*d);
    fi->fh = reinterpret_cast<std::uint64_t>(d.release());
    fi->keep_cache = 1;
    fi->cache_readdir = 1;
    if (fuse_reply_open(req, fi) != 0)
        delete handle_of<open_directory>(fi);
}

// Adds the name at d.position to buffer; false when it does not fit. With
// plus, the entry's attributes go with it (none when they cannot be read:
// the kernel then looks the name up itself).
bool add_listed(fuse_req_t req, const open_directory& d, bool plus, const std::string& name,
                std::uint64_t inode, bool directory, char* buffer, std::size_t room,
                std::size_t& need)
{
    const off_t next = d.position + 1;
    if (!plus) {
        struct stat st {};
        st.st_ino = inode;
        st.st_mode = directory ? S_IFDIR : S_IFREG;
        need = fuse_add_direntry(req, buffer, room, name.c_str(), &st, next);
        return need <= room;
    }
    fuse_entry_param e{};
    e.attr.st_ino = inode;
    e.attr.st_mode = directory ? S_IFDIR : S_IFREG;
    if (d.position >= 2) {
        const node* n = find_node(inode, child_spec(d.dir.spec, d.entry, directory));
        if (n != nullptr) {
            e.ino = n->inode;
            fill_stat(*n, e.attr);
            e.attr_timeout = TIMEOUT_SECONDS;
            e.entry_timeout = TIMEOUT_SECONDS;
        }
    }
    need = fuse_add_direntry_plus(req, buffer, room, name.c_str(), &e, next);
    return need <= room;
}

void list_directory(fuse_req_t req, size_t size, off_t off, fuse_file_info* fi, bool plus)
{
    auto& d = *handle_of<open_directory>(fi);
    std::string name;
    std::uint64_t inode = 0;
    bool directory = false;
    report_about(d.dir.spec);
    if (off != d.position) {
        rewind(d);
        while (d.position < off && peek_name(d, name, inode, directory))
            move_on(d);
    }
    std::vector<char> buffer(size);
    std::size_t used = 0, need = 0;
    while (
        peek_name(d, name, inode, directory) &&
        add_listed(req, d, plus, name, inode, directory, buffer.data() + used, size - used, need)) {
        used += need;
        move_on(d);
        report_about(d.dir.spec);
    }
    fuse_reply_buf(req, buffer.data(), used);
}

void do_readdir(fuse_req_t req, fuse_ino_t, size_t size, off_t off, fuse_file_info* fi)
{
    list_directory(req, size, off, fi, false);
}

void do_readdirplus(fuse_req_t req, fuse_ino_t, size_t size, off_t off, fuse_file_info* fi)
{
    list_directory(req, size, off, fi, true);
}

void do_releasedir(fuse_req_t req, fuse_ino_t, fuse_file_info* fi)
{
    delete handle_of<open_directory>(fi);
    fuse_reply_err(req, 0);
}

void do_statfs(fuse_req_t req, fuse_ino_t)
{
    struct statvfs st;
    fill_statvfs(st);
    fuse_reply_statfs(req, &st);
}

// An attribute's value, or its length when size is 0.
void reply_value(fuse_req_t req, const std::string& value, size_t size)
{
    if (size == 0)
        fuse_reply_xattr(req, value.size());
    else if (size < value.size())
        fuse_reply_err(req, ERANGE);
    else
        fuse_reply_buf(req, value.data(), value.size());
}

// Security labels and POSIX ACLs are not kept on the volume. EOPNOTSUPP (not
// ENODATA) says so, and programs then stop asking for each file: ls -l asks
// the first file of a mount and no other, where each ask is a round trip.
bool unsupported_namespace(const char* name)
{
    return std::strncmp(name, "security.", 9) == 0 || std::strncmp(name, "system.", 7) == 0;
}

void do_getxattr(fuse_req_t req, fuse_ino_t ino, const char* name, size_t size)
{
    if (unsupported_namespace(name))
        return fail(req, EOPNOTSUPP);
    const node* n = find_node(ino);
    if (n == nullptr)
        return fail(req, EIO);
    std::string value;
    if (!vms_attribute(*n, name, value))
        return fail(req, ENODATA);
    reply_value(req, value, size);
}

void do_listxattr(fuse_req_t req, fuse_ino_t ino, size_t size)
{
    if (find_node(ino) == nullptr)
        return fail(req, EIO);
    reply_value(req, vms_attribute_names(), size);
}

void do_init(void*, fuse_conn_info* conn)
{
    conn->max_read = MAX_READ;
    conn->want |= conn->capable & (FUSE_CAP_SPLICE_WRITE | FUSE_CAP_SPLICE_MOVE);
    // Listings always carry attributes: ls -l and cp -r then look nothing up.
    conn->want &= ~static_cast<unsigned>(FUSE_CAP_READDIRPLUS_AUTO);
    conn->want &= ~static_cast<unsigned>(FUSE_CAP_ATOMIC_O_TRUNC);
}

// Every change is refused: the volume is read-only.
void refuse(fuse_req_t req)
{
    fail(req, EROFS);
}

fuse_lowlevel_ops make_operations()
{
    fuse_lowlevel_ops ops{};
    ops.init = do_init;
    ops.lookup = do_lookup;
    ops.getattr = do_getattr;
    ops.open = do_open;
    ops.read = do_read;
    ops.release = do_release;
    ops.opendir = do_opendir;
    ops.readdir = do_readdir;
    ops.readdirplus = do_readdirplus;
    ops.releasedir = do_releasedir;
    ops.statfs = do_statfs;
    ops.getxattr = do_getxattr;
    ops.listxattr = do_listxattr;
    ops.setattr = [](fuse_req_t req, fuse_ino_t, struct stat*, int, fuse_file_info*) {
        refuse(req);
    };
    ops.mknod = [](fuse_req_t req, fuse_ino_t, const char*, mode_t, dev_t) { refuse(req); };
    ops.mkdir = [](fuse_req_t req, fuse_ino_t, const char*, mode_t) { refuse(req); };
    ops.unlink = [](fuse_req_t req, fuse_ino_t, const char*) { refuse(req); };
    ops.rmdir = [](fuse_req_t req, fuse_ino_t, const char*) { refuse(req); };
    ops.symlink = [](fuse_req_t req, const char*, fuse_ino_t, const char*) { refuse(req); };
    ops.rename = [](fuse_req_t req, fuse_ino_t, const char*, fuse_ino_t, const char*, unsigned) {
        refuse(req);
    };
    ops.link = [](fuse_req_t req, fuse_ino_t, fuse_ino_t, const char*) { refuse(req); };
    ops.write = [](fuse_req_t req, fuse_ino_t, const char*, size_t, off_t, fuse_file_info*) {
        refuse(req);
    };
    ops.create = [](fuse_req_t req, fuse_ino_t, const char*, mode_t, fuse_file_info*) {
        refuse(req);
    };
    ops.setxattr = [](fuse_req_t req, fuse_ino_t, const char*, const char*, size_t, int) {
        refuse(req);
    };
    ops.removexattr = [](fuse_req_t req, fuse_ino_t, const char*) { refuse(req); };
    ops.fallocate = [](fuse_req_t req, fuse_ino_t, int, off_t, off_t, fuse_file_info*) {
        refuse(req);
    };
    return ops;
}

const fuse_lowlevel_ops operation_table = make_operations();

} // namespace

const fuse_lowlevel_ops& operations()
{
    return operation_table;
}

} // namespace odsfs
