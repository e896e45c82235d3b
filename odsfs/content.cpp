// Reading a file's bytes or its converted text at an offset.
#include "odsfs/content.hpp"

#include <algorithm>
#include <limits>

#include "diag/report.hpp"
#include "ods2/layout.hpp"

namespace odsfs {

namespace {

// Blocks read with one call while converting.
constexpr std::size_t INPUT_BLOCKS = 64;
// Text converted per step.
constexpr std::size_t TEXT_STEP = std::size_t{64} * 1024;

// Reads count blocks from vbn into buffer, run by run; false after reporting.
// A block the map does not hold is reported here: the core says nothing of it.
bool read_blocks(open_file& f, std::int64_t vbn, std::size_t count, std::uint8_t* buffer)
{
    std::size_t done = 0;
    while (done < count) {
        const std::uint64_t reports = report_count;
        const std::int64_t at = vbn + static_cast<std::int64_t>(done);
        const std::size_t got =
            read_vblocks(at, count - done, buffer + done * BLOCK_SIZE, f.header, f.cursor);
        if (got == 0) {
            if (report_count == reports)
                report("Block %lld of the file is not mapped", static_cast<long long>(at));
            return false;
        }
        done += got;
    }
    return true;
}

int read_raw(open_file& f, std::uint64_t offset, std::size_t size, std::vector<std::uint8_t>& out,
             const std::uint8_t*& data, std::size_t& length)
{
    length = 0;
    if (offset >= f.size || size == 0)
        return 0;
    const std::uint64_t end = std::min<std::uint64_t>(f.size, offset + size);
    const auto first = static_cast<std::int64_t>(offset / BLOCK_SIZE + 1);
    const auto last = static_cast<std::int64_t>((end - 1) / BLOCK_SIZE + 1);
    const auto count = static_cast<std::size_t>(last - first + 1);
    if (out.size() < count * BLOCK_SIZE)
        out.resize(count * BLOCK_SIZE);
    report_about(f.spec);
    if (!read_blocks(f, first, count, out.data()))
        return EIO;
    data = out.data() + offset % BLOCK_SIZE;
    length = static_cast<std::size_t>(end - offset);
    return 0;
}

void restart_conversion(open_file& f)
{
    start_conversion(f.converter, f.attributes, CONVERT_AUTO);
    f.in_offset = 0;
    f.out_offset = 0;
    f.finished = false;
}

// The file's bytes from in_offset on, as many as the read-ahead holds; false
// after reporting.
bool input_at(open_file& f, const std::uint8_t*& bytes, std::size_t& n)
{
    const auto vbn = static_cast<std::int64_t>(f.in_offset / BLOCK_SIZE + 1);
    const bool held =
        vbn >= f.input_vbn && vbn < f.input_vbn + static_cast<std::int64_t>(f.input_blocks);
    if (!held) {
        const std::uint64_t file_blocks = (f.attributes.size_bytes + BLOCK_SIZE - 1) / BLOCK_SIZE;
        const std::uint64_t left = file_blocks - static_cast<std::uint64_t>(vbn - 1);
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(INPUT_BLOCKS, left));
        f.input.resize(INPUT_BLOCKS * BLOCK_SIZE);
        f.input_blocks = 0;
        if (!read_blocks(f, vbn, count, f.input.data()))
            return false;
        f.input_vbn = vbn;
        f.input_blocks = count;
    }
    const std::uint64_t start =
        static_cast<std::uint64_t>(f.input_vbn - 1) * BLOCK_SIZE; // file offset of input[0]
    const std::uint64_t held_end =
        std::min<std::uint64_t>(start + f.input_blocks * BLOCK_SIZE, f.attributes.size_bytes);
    bytes = f.input.data() + (f.in_offset - start);
    n = static_cast<std::size_t>(held_end - f.in_offset);
    return true;
}

// Converts up to capacity bytes of text into out, going on from where the
// conversion is; sets produced. False after reporting a failed read.
bool convert_step(open_file& f, std::uint8_t* out, std::size_t capacity, std::size_t& produced)
{
    produced = 0;
    if (f.finished)
        return true;
    if (f.in_offset >= f.attributes.size_bytes) {
        produced = finish_conversion(f.converter, out, capacity);
        f.finished = produced < capacity;
    } else {
        const std::uint8_t* in = nullptr;
        std::size_t n = 0;
        if (!input_at(f, in, n))
            return false;
        std::size_t consumed = 0;
        produced = convert_bytes(f.converter, in, n, consumed, out, capacity);
        f.in_offset += consumed;
    }
    f.out_offset += produced;
    return true;
}

// Moves the conversion on to text offset target, dropping the text before it.
bool skip_text(open_file& f, std::uint64_t target, std::vector<std::uint8_t>& scratch)
{
    scratch.resize(std::max<std::size_t>(scratch.size(), TEXT_STEP));
    while (f.out_offset < target && !f.finished) {
        const auto capacity =
            static_cast<std::size_t>(std::min<std::uint64_t>(TEXT_STEP, target - f.out_offset));
        std::size_t produced = 0;
        if (!convert_step(f, scratch.data(), capacity, produced))
            return false;
    }
    return true;
}

int read_text(open_file& f, std::uint64_t offset, std::size_t size, std::vector<std::uint8_t>& out,
              const std::uint8_t*& data, std::size_t& length)
{
    length = 0;
    report_about(f.spec);
    if (offset < f.out_offset)
        restart_conversion(f); // only a read backwards decodes again
    if (!skip_text(f, offset, out))
        return EIO;
    if (out.size() < size)
        out.resize(size);
    while (length < size && !f.finished) {
        std::size_t produced = 0;
        if (!convert_step(f, out.data() + length, size - length, produced))
            return EIO;
        length += produced;
    }
    data = out.data();
    return 0;
}

} // namespace

bool read_as_text(const file_attributes& a)
{
    return converts_to_text(a);
}

std::unique_ptr<open_file> open_content(const node& n)
{
    auto f = std::make_unique<open_file>();
    f->header = n.header;
    f->attributes = n.attributes;
    f->spec = n.spec;
    f->text = n.text;
    f->size = n.size;
    if (f->text)
        restart_conversion(*f);
    return f;
}

int read_content(open_file& f, std::uint64_t offset, std::size_t size,
                 std::vector<std::uint8_t>& out, const std::uint8_t*& data, std::size_t& length)
{
    if (f.text)
        return read_text(f, offset, size, out, data, length);
    return read_raw(f, offset, size, out, data, length);
}

bool converted_size(const node& n, std::uint64_t& size)
{
    node whole = n;
    whole.text = true;
    const auto f = open_content(whole);
    std::vector<std::uint8_t> scratch;
    if (!skip_text(*f, std::numeric_limits<std::uint64_t>::max(), scratch))
        return false;
    size = f->out_offset;
    return true;
}

} // namespace odsfs
