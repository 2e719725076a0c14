#pragma once

// The threads of the decode library: how many run, and whether the calling thread is one of them (and for which
// port it works now), so that a stop from a port's own callback can be refused instead of waiting for itself.
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

    // A library thread works for the port while it lives (a decode worker servicing it).
    class PortScope
    {
    public:
        explicit PortScope(int nPort);
        ~PortScope();
        PortScope(const PortScope &) = delete;
        PortScope &operator=(const PortScope &) = delete;

    private:
        int m_nPrevious;
    };

    static int Running();
    static bool OnLibraryThread();
    // The port the calling thread works for, or -1.
    static int CurrentPort();
};
