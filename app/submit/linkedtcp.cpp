// Score sockets over the linked Qt Network, for programs that link it anyway.
#include "submit/scoresocket.h"
#include "submit/tcpconnection.h"

void useLinkedTcpConnections()
{
    ScoreSocket::makeConnectionsWith(&makeQtTcpConnection);
}
