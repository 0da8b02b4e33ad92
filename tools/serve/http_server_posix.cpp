#include "http_server.h"

// The connection pool finds each socket itself (RequestHeadGuard) and hands
// it to the watch it was made with.
void HttpServer::watch_connections(std::shared_ptr<ConnectionWatch>) {}
