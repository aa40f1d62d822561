#pragma once
// The in-house array templates. CSortedArray keeps its elements in the order
// the owner builds: appended in arrival order, or inserted at the place a
// comparison gives. CSortedPtrArray owns the objects it points to.

#include <algorithm>
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

template <class T>
class CSortedArray {
public:
    using value_type = T;
    using iterator = typename std::vector<T>::iterator;
    using const_iterator = typename std::vector<T>::const_iterator;

    size_t GetSize() const noexcept { return items_.size(); }
    bool IsEmpty() const noexcept { return items_.empty(); }
    T& operator[](size_t index) { return items_[index]; }
    const T& operator[](size_t index) const { return items_[index]; }

    T& Add(T value)
    {
        items_.push_back(std::move(value));
        return items_.back();
    }

    void InsertAt(size_t index, T value)
    {
        items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(index), std::move(value));
    }

    void RemoveAt(size_t index) { items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index)); }
    void RemoveAll() noexcept { items_.clear(); }

    // First position whose element is not less than `key` under `less(element, key)`.
    template <class Key, class Less>
    size_t LowerBound(const Key& key, Less less) const
    {
        return static_cast<size_t>(std::lower_bound(items_.begin(), items_.end(), key, less) -
                                   items_.begin());
    }

    iterator begin() noexcept { return items_.begin(); }
    iterator end() noexcept { return items_.end(); }
    const_iterator begin() const noexcept { return items_.begin(); }
    const_iterator end() const noexcept { return items_.end(); }

private:
    std::vector<T> items_;
};

template <class T>
class CSortedPtrArray : public CSortedArray<std::unique_ptr<T>> {};
