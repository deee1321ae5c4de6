#pragma once

#include <cstddef>
#include <deque>

// Keeps every record and list the record classes hand out, for the life of the process: pages,
// models and dialogs hold plain pointers across reloads, and everything is freed at exit. A deque
// never moves what it holds, so the pointers stay valid while it grows.
template <typename T> class RecordArena
{
public:
    T* make() { return &items.emplace_back(); }

private:
    std::deque<T> items;
};
