#include "standin/windows/NativeEventDelivery.h"

#include <QByteArray>
#include <QWidget>

namespace {

// Reaches the widget's (protected, virtual) QWidget::nativeEvent as the platform does.
struct NativeEventAccess : QWidget
{
    static bool Deliver(QWidget *pWidget, const QByteArray &eventType, void *pMessage, long *pResult)
    {
        return (pWidget->*(&NativeEventAccess::nativeEvent))(eventType, pMessage, pResult);
    }
};

} // namespace

bool NativeEventDelivery::Deliver(QWidget *pWidget, HWND hWnd, UINT uMessage)
{
    MSG msg{hWnd, uMessage, 0, 0, 0, POINT{0, 0}};
    long nResult = 0;
    return NativeEventAccess::Deliver(pWidget, QByteArrayLiteral("windows_generic_MSG"), &msg, &nResult);
}
