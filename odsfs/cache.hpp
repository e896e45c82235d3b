// A cache of a fixed number of entries that forgets the least recently used
// one when full: what odsfs keeps of a volume stays bounded whatever its size.
#pragma once

#include <cstddef>
#include <list>
#include <unordered_map>
#include <utility>

namespace odsfs {

template <typename Key, typename Value> class bounded_cache {
  public:
    explicit bounded_cache(std::size_t capacity) : capacity_(capacity) {}

    // The value for key, now the most recently used; nullptr when absent. The
    // pointer is valid until the next put.
    Value* find(const Key& key)
    {
        const auto at = index_.find(key);
        if (at == index_.end())
            return nullptr;
        order_.splice(order_.begin(), order_, at->second);
        return &at->second->second;
    }

    // Stores value for key, forgetting the least recently used entry when full.
    Value& put(const Key& key, Value value)
    {
        if (Value* held = find(key)) {
            *held = std::move(value);
            return *held;
        }
        if (order_.size() >= capacity_) {
            index_.erase(order_.back().first);
            order_.pop_back();
        }
        order_.emplace_front(key, std::move(value));
        index_.emplace(key, order_.begin());
        return order_.front().second;
    }

    [[nodiscard]] std::size_t size() const { return order_.size(); }
    [[nodiscard]] std::size_t capacity() const { return capacity_; }

  private:
    using entry = std::pair<Key, Value>;
    std::size_t capacity_;
    std::list<entry> order_;
    std::unordered_map<Key, typename std::list<entry>::iterator> index_;
};

} // namespace odsfs
