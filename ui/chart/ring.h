#pragma once
// A queue in one contiguous block, used as a ring: readings come in at the back and leave
// at the front for as long as a session lasts, and a scan over them reads memory in order
// (capacity a power of two, so an index is a mask; a std::deque spreads them over small blocks that a long session scatters in memory,
// and a reduction over them grew threefold in two days).

#include <cstddef>
#include <iterator>
#include <vector>

namespace qvin::ui {

template <typename T>
class Ring {
public:
    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = const T*;
        using reference = const T&;

        const_iterator() = default;
        const_iterator(const Ring* r, std::size_t i) : r_(r), i_(i) {}
        reference operator*() const { return (*r_)[i_]; }
        pointer operator->() const { return &(*r_)[i_]; }
        reference operator[](difference_type n) const { return (*r_)[static_cast<std::size_t>(static_cast<difference_type>(i_) + n)]; }
        const_iterator& operator++() { return ++i_, *this; }
        const_iterator operator++(int) { auto t = *this; ++i_; return t; }
        const_iterator& operator--() { return --i_, *this; }
        const_iterator operator--(int) { auto t = *this; --i_; return t; }
        const_iterator& operator+=(difference_type n) { i_ = static_cast<std::size_t>(static_cast<difference_type>(i_) + n); return *this; }
        const_iterator& operator-=(difference_type n) { return *this += -n; }
        friend const_iterator operator+(const_iterator a, difference_type n) { return a += n; }
        friend const_iterator operator+(difference_type n, const_iterator a) { return a += n; }
        friend const_iterator operator-(const_iterator a, difference_type n) { return a -= n; }
        friend difference_type operator-(const const_iterator& a, const const_iterator& b) {
            return static_cast<difference_type>(a.i_) - static_cast<difference_type>(b.i_);
        }
        friend bool operator==(const const_iterator& a, const const_iterator& b) { return a.i_ == b.i_; }
        friend auto operator<=>(const const_iterator& a, const const_iterator& b) { return a.i_ <=> b.i_; }

    private:
        const Ring* r_ = nullptr;
        std::size_t i_ = 0;
    };
    using value_type = T;

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const T& operator[](std::size_t i) const { return slots_[(head_ + i) & (slots_.size() - 1)]; }
    T& operator[](std::size_t i) { return slots_[(head_ + i) & (slots_.size() - 1)]; }
    const T& front() const { return (*this)[0]; }
    const T& back() const { return (*this)[size_ - 1]; }
    T& back() { return (*this)[size_ - 1]; }
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size_}; }

    void push_back(const T& v) {
        if (size_ == slots_.size()) Grow();
        slots_[(head_ + size_) & (slots_.size() - 1)] = v;
        ++size_;
    }
    void pop_front() {
        head_ = (head_ + 1) & (slots_.size() - 1);
        --size_;
    }
    void clear() {
        slots_.clear();
        slots_.shrink_to_fit();
        head_ = size_ = 0;
    }

private:
    void Grow() {
        std::vector<T> bigger;
        bigger.reserve(slots_.empty() ? 64 : slots_.size() * 2);
        for (std::size_t i = 0; i < size_; ++i) bigger.push_back((*this)[i]);
        bigger.resize(bigger.capacity());
        slots_ = std::move(bigger);
        head_ = 0;
    }
    std::vector<T> slots_;
    std::size_t head_ = 0, size_ = 0;
};

}  // namespace qvin::ui
