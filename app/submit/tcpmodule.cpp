// The module the desktop program loads on its first connection to a score server.
#include "submit/tcpconnection.h"

extern "C" Q_DECL_EXPORT TcpConnection *orvane_make_tcp_connection(TcpConnection::Events events)
{
    return makeQtTcpConnection(std::move(events));
}
