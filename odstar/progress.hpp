// The one-line progress display on a terminal's standard error: files and
// bytes done of the total, and the rate; updated in place, removed at the end.
#pragma once

#include <chrono>
#include <cstdint>

namespace odstar {

class progress {
  public:
    // Shown only when standard error is a terminal and the work is large.
    progress(std::uint64_t total_files, std::uint64_t total_bytes);
    ~progress();
    progress(const progress&) = delete;
    progress& operator=(const progress&) = delete;

    void add_bytes(std::uint64_t n);
    void file_done();
    // Clears the line before other output goes to the terminal; the next update redraws it.
    void clear();
    [[nodiscard]] bool shown() const { return enabled_; }

  private:
    void update(bool force);

    bool enabled_ = false;
    bool drawn_ = false;
    std::uint64_t total_files_ = 0;
    std::uint64_t total_bytes_ = 0;
    std::uint64_t files_ = 0;
    std::uint64_t bytes_ = 0;
    std::chrono::steady_clock::time_point start_{};
    std::chrono::steady_clock::time_point last_{};
};

// Work this large gets a progress display.
inline constexpr std::uint64_t PROGRESS_MIN_FILES = 1000;
inline constexpr std::uint64_t PROGRESS_MIN_BYTES = 32ull << 20;

} // namespace odstar
