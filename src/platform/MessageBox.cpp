#include "platform/MessageBox.h"

#include <cstdio>
#include <mutex>

namespace platform {
namespace {

std::mutex handlerMutex;
MessageBoxHandler currentHandler;

}  // namespace

int DefaultMessageBoxAnswer(const MessageBoxRequest& request) {
    std::fprintf(stderr, "Oculara: [%s] %s\n", request.caption.c_str(), request.text.c_str());
    const unsigned buttons = request.flags & 0xF;
    return (buttons == MB_YESNO || buttons == MB_YESNOCANCEL) ? IDYES : IDOK;
}

int MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    MessageBoxHandler handler;
    {
        std::lock_guard<std::mutex> lock(handlerMutex);
        handler = currentHandler;
    }
    // Called outside the lock: a handler may show a box that itself asks.
    const MessageBoxRequest request{text, caption, flags};
    return handler ? handler(request) : DefaultMessageBoxAnswer(request);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    std::lock_guard<std::mutex> lock(handlerMutex);
    MessageBoxHandler previous = std::move(currentHandler);
    currentHandler = std::move(handler);
    return previous;
}

}  // namespace platform
