#pragma once

#include <QtCore/qnamespace.h>

#include <functional>

class QObject;

// ThreadSanitizer does not see the synchronisation inside Qt's event queues (Qt is not built with it), so the
// hand-offs the system makes through them are announced to it here: a release on the posting thread, an
// acquire where the posted function runs, each hand-off on an address of its own so that unrelated hand-offs
// do not order each other. Qt's copy of the posted function, made on the posting thread, is kept out of
// ThreadSanitizer's view: only Qt's queue orders it before the other thread reads it. Outside the
// ThreadSanitizer build nothing of this is compiled in.
class HandOffSync
{
public:
    // Registers the hand-off function type, std::function<void(void)>, with Qt under the name. In the
    // ThreadSanitizer build every queued copy of such a function (a queued signal carrying it) is a hand-off:
    // what the posting thread did before it happens before the function runs. Must come before the first
    // queued connection that carries the type. Returns the type's id.
    static int RegisterFunctionType(const char *pName);

    // Calls post(fn) for a post that waits until fn has run on another thread (a blocking queued signal): what
    // the caller did before happens before fn runs, and what fn did happens before this returns.
    static void Blocking(const std::function<void()> &fn, const std::function<void(std::function<void()>)> &post);

    // Called by the receiver of blocking posts as it takes a posted call from its queue, before the call's
    // arguments are read: a blocking post leaves its arguments on the poster's stack, and Qt's queue lock orders
    // every post made so far before this point.
    static void Received();

    // QMetaObject::invokeMethod of fn on the thread of pContext, queued (Qt::QueuedConnection) or waiting for it
    // (Qt::BlockingQueuedConnection), as a hand-off. False when Qt refuses the call.
    static bool Invoke(QObject *pContext, const std::function<void()> &fn, Qt::ConnectionType eType);
};
