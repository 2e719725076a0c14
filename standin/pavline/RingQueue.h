#pragma once

#include <cstddef>
#include <utility>
#include <vector>

// A double-ended queue in one ring of slots that only ever grows: once a port's queues have reached their
// working size, putting and taking allocate nothing (std::deque allocates and frees a node every few elements).
// Elements taken out are moved from and left in their slot until it is used again.
template <typename T>
class RingQueue
{
public:
    bool empty() const { return m_nSize == 0; }
    size_t size() const { return m_nSize; }

    T &operator[](size_t i) { return m_slots[Slot(i)]; }
    const T &operator[](size_t i) const { return m_slots[Slot(i)]; }
    T &front() { return (*this)[0]; }
    T &back() { return (*this)[m_nSize - 1]; }
    const T &front() const { return (*this)[0]; }
    const T &back() const { return (*this)[m_nSize - 1]; }

    void push_back(T value)
    {
        Grow();
        m_slots[Slot(m_nSize)] = std::move(value);
        ++m_nSize;
    }
    void push_front(T value)
    {
        Grow();
        m_nHead = (m_nHead + m_slots.size() - 1) % m_slots.size();
        m_slots[m_nHead] = std::move(value);
        ++m_nSize;
    }
    // The element taken out, moved from its slot.
    T take_front()
    {
        T value = std::move(m_slots[m_nHead]);
        m_slots[m_nHead] = T();
        m_nHead = (m_nHead + 1) % m_slots.size();
        --m_nSize;
        return value;
    }
    T take_back()
    {
        T value = std::move(back());
        back() = T();
        --m_nSize;
        return value;
    }
    void pop_front() { take_front(); }
    void pop_back() { take_back(); }
    // The first n elements go.
    void drop_front(size_t n)
    {
        for (size_t i = 0; i < n && m_nSize > 0; ++i)
            pop_front();
    }
    void clear() { drop_front(m_nSize); }

private:
    size_t Slot(size_t i) const { return (m_nHead + i) % m_slots.size(); }
    void Grow()
    {
        if (m_nSize < m_slots.size())
            return;
        std::vector<T> grown(m_slots.empty() ? 8 : 2 * m_slots.size());
        for (size_t i = 0; i < m_nSize; ++i)
            grown[i] = std::move((*this)[i]);
        m_slots.swap(grown);
        m_nHead = 0;
    }

    std::vector<T> m_slots;
    size_t m_nHead = 0;
    size_t m_nSize = 0;
};
