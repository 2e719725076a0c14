#pragma once

#include "platform/winapi.h"

class QWidget;

// Hands a simulated window message to one of the plug-in's widgets the way the platform hands it a real one:
// as a "windows_generic_MSG" native event carrying a MSG, through the widget's QWidget::nativeEvent.
class NativeEventDelivery
{
public:
    // Whether the widget handled the message.
    static bool Deliver(QWidget *pWidget, HWND hWnd, UINT uMessage);
};
