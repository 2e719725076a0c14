#pragma once

// The threads of the decode library: how many run, and whether the calling thread is one of them (and of which
// port), so that a stop from a port's own callback can be refused instead of waiting for itself.
class PavlineThreads
{
public:
    // Marks the calling thread as a library thread (of the port, or -1) while it lives.
    class Scope
    {
    public:
        explicit Scope(int nPort);
        ~Scope();
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;
    };

    static int Running();
    static bool OnLibraryThread();
    // The port whose thread calls, or -1.
    static int CurrentPort();
};
