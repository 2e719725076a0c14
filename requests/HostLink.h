#pragma once

#include <QString>

#include <memory>

class CPluginManage;
class ListenThread;

// Wires the request handler to a host link on the named local server and starts the link: the host's requests
// reach the handler, its replies and events go back, and the host's disconnection waits for the handler.
std::unique_ptr<ListenThread> StartHostLink(const QString &strServerName, CPluginManage *pManage);
