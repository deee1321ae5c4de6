#pragma once

// Sets the process's file creation mask while it lives. The program makes its lock files and the
// list of automatic backups under 077, so that they are their owner's from the moment they exist,
// whatever the session's mask; tests use 0 to play a careless session.
class ScopedUmask {
public:
    explicit ScopedUmask(unsigned mask);
    ~ScopedUmask();
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    unsigned previous;
};
