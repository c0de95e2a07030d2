#pragma once
#include "app.h"

#include <functional>
#include <string>

namespace server {

// Serves the app over HTTP/1.1 until SIGINT or SIGTERM. `on_listening` gets the address
// actually bound (port 0 picks a free one). Throws when it cannot listen.
void serve(App &app, const std::function<void(const std::string &url)> &on_listening);

} // namespace server
