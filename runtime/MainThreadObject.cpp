#include "runtime/MainThreadObject.h"

#include "runtime/HandOffSync.h"

#include <QCoreApplication>

MainThreadObject *MainThreadObject::GetInstance()
{
    static MainThreadObject *s_pInstance = new MainThreadObject();
    return s_pInstance;
}

MainThreadObject::MainThreadObject(QObject *parent)
    : QObject(parent)
{
    if (QCoreApplication *pApp = QCoreApplication::instance())
        moveToThread(pApp->thread());
}

void MainThreadObject::RegisterMetaTypes()
{
    HandOffSync::RegisterFunctionType("std::function<void(void)>");
    HandOffSync::RegisterFunctionType("std::function<void()>");
}

void MainThreadObject::onReturnToMainThread(std::function<void(void)> callback)
{
    callback();
}
