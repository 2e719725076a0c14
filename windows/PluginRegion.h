#pragma once

#include <QMetaType>

// The region of the plug-in window, from a request's "Pos"; travels to the GUI thread by value.
struct PluginRegion
{
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};

Q_DECLARE_METATYPE(PluginRegion)
