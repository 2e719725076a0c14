#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QObject;
class QProcess;

// The companion program that lets the user choose a folder or a file: "<program dir>/Browse", started with two
// decimal arguments. Nothing waits for it: the answer is handled on the owner's thread when it ends, however
// long that takes.
class BrowseChooser
{
public:
    enum Outcome {
        Chosen,     // exit code 0 with a normal exit
        NotChosen,  // another exit code, or a crash
        NotStarted, // the program could not be started
    };
    struct Result
    {
        Outcome eOutcome = NotStarted;
        QByteArray output; // the whole standard output, untrimmed
        // The chosen path: the output read as UTF-8 up to its first zero byte, as a path given to the system ends
        // there; otherwise untrimmed. Every request reads the choice through this.
        QString Path() const;
    };
    using Callback = std::function<void(const Result &)>;

    // Starts the chooser as a child process object of pOwner and returns at once. fnDone runs exactly once, on
    // pOwner's thread, when the chooser has ended or has failed to start; the process object is deleted after
    // it. Whatever the answer needs from the request must be captured in fnDone. Call on pOwner's thread.
    static void Start(QObject *pOwner, int nFirst, int nSecond, Callback fnDone);
    // The same with another program (tests).
    static void Start(QObject *pOwner, const QString &strProgram, int nFirst, int nSecond, Callback fnDone);

    // "<program dir>/Browse".
    static QString ProgramPath();

    // Ends every chooser that pOwner started, without calling their callbacks.
    static void CloseAll(QObject *pOwner);
};
