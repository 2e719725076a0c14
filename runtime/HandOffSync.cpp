#include "runtime/HandOffSync.h"

#include "runtime/MainThreadObject.h"

#include <QMetaObject>
#include <QMetaType>
#include <QObject>
#include <QtGlobal>

#include <memory>
#include <new>

#if defined(__SANITIZE_THREAD__)
#define QUORRIN_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUORRIN_TSAN 1
#endif
#endif

#if defined(QUORRIN_TSAN)

extern "C" {
void __tsan_acquire(void *pAddr);
void __tsan_release(void *pAddr);
void __tsan_ignore_thread_begin();
void __tsan_ignore_thread_end();
}

namespace {

using Function = std::function<void()>;

// Released by every blocking post, acquired by its receiver before it reads the post's arguments.
char s_cBlockingPosts = 0;

// A function handed to another thread: its token is released where it was posted and acquired where it runs;
// once it has run, the token is released again for a poster that waits for it.
struct AnnouncedCall
{
    std::shared_ptr<char> pToken;
    Function fn;

    void operator()() const
    {
        __tsan_acquire(pToken.get());
        fn();
        __tsan_release(pToken.get());
    }
};

// Wraps fn (not empty) with a new token; the copy is made out of ThreadSanitizer's view.
Function Announce(const Function &fn, std::shared_ptr<char> &pToken)
{
    __tsan_ignore_thread_begin();
    pToken = std::make_shared<char>(0);
    Function announced = AnnouncedCall{pToken, fn};
    __tsan_ignore_thread_end();
    return announced;
}

// Qt's copy of a queued argument, on the posting thread.
void *Construct(void *pWhere, const void *pCopy)
{
    const Function *pSource = static_cast<const Function *>(pCopy);
    if (!pSource || !*pSource) {
        __tsan_ignore_thread_begin();
        Function *pFunction = pSource ? new (pWhere) Function(*pSource) : new (pWhere) Function();
        __tsan_ignore_thread_end();
        return pFunction;
    }
    std::shared_ptr<char> pToken;
    Function announced = Announce(*pSource, pToken);
    __tsan_ignore_thread_begin();
    Function *pFunction = new (pWhere) Function(std::move(announced));
    announced = Function();
    __tsan_ignore_thread_end();
    __tsan_release(pToken.get());
    return pFunction;
}

void Destruct(void *pFunction)
{
    static_cast<Function *>(pFunction)->~Function();
}

} // namespace

int HandOffSync::RegisterFunctionType(const char *pName)
{
    static const int s_nId = [] {
        const QByteArray name = QMetaObject::normalizedType("std::function<void(void)>");
        if (QMetaType::type(name.constData()) != QMetaType::UnknownType)
            qWarning("std::function<void(void)> was registered before HandOffSync::RegisterFunctionType: "
                     "ThreadSanitizer will not see its hand-offs");
        QMetaType::TypeFlags flags(QtPrivate::QMetaTypeTypeFlags<Function>::Flags);
        flags |= QMetaType::WasDeclaredAsMetaType;
        QMetaType::registerNormalizedType(name, &Destruct, &Construct, int(sizeof(Function)), flags, nullptr);
        return qMetaTypeId<Function>();
    }();
    qRegisterMetaType<Function>(pName);
    return s_nId;
}

void HandOffSync::Blocking(const std::function<void()> &fn, const std::function<void(std::function<void()>)> &post)
{
    if (!fn) {
        post(fn);
        return;
    }
    std::shared_ptr<char> pToken;
    Function announced = Announce(fn, pToken);
    __tsan_release(pToken.get());
    __tsan_release(&s_cBlockingPosts);
    // The signal copies the function into its argument, which the other thread reads while this one waits.
    __tsan_ignore_thread_begin();
    post(std::move(announced));
    __tsan_ignore_thread_end();
    __tsan_acquire(pToken.get());
}

void HandOffSync::Received()
{
    __tsan_acquire(&s_cBlockingPosts);
}

bool HandOffSync::Invoke(QObject *pContext, const std::function<void()> &fn, Qt::ConnectionType eType)
{
    // Only a post is a hand-off: a direct call runs here, and must stay in view.
    if (!fn || (eType != Qt::QueuedConnection && eType != Qt::BlockingQueuedConnection))
        return QMetaObject::invokeMethod(pContext, fn, eType);
    std::shared_ptr<char> pToken;
    Function announced = Announce(fn, pToken);
    __tsan_release(pToken.get());
    // Qt makes its slot object of the function on this thread; the other thread reads it.
    __tsan_ignore_thread_begin();
    const bool bPosted = QMetaObject::invokeMethod(pContext, std::move(announced), eType);
    __tsan_ignore_thread_end();
    if (eType == Qt::BlockingQueuedConnection)
        __tsan_acquire(pToken.get());
    return bPosted;
}

#else

int HandOffSync::RegisterFunctionType(const char *pName)
{
    return qRegisterMetaType<std::function<void()>>(pName);
}

void HandOffSync::Blocking(const std::function<void()> &fn, const std::function<void(std::function<void()>)> &post)
{
    post(fn);
}

void HandOffSync::Received()
{
}

bool HandOffSync::Invoke(QObject *pContext, const std::function<void()> &fn, Qt::ConnectionType eType)
{
    return QMetaObject::invokeMethod(pContext, fn, eType);
}

#endif
