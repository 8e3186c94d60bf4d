// Helpers shared by the host unit tests.
#pragma once

#include <string>
#include <vector>

#include "download/constants.h"
#include "download/manager_state.h"

// Gives the manager state a 22,000-byte response buffer holding text, and
// takes it away again at the end of the scope.
class ResponseTextScope {
public:
    explicit ResponseTextScope(const std::string& text) : buffer_(TEXT_BUFFER_SIZE, '\0') {
        text.copy(buffer_.data(), TEXT_BUFFER_SIZE - 1);
        g_manager.responseText = buffer_.data();
    }
    ~ResponseTextScope() { g_manager.responseText = nullptr; }
    char* data() { return buffer_.data(); }

private:
    std::vector<char> buffer_;
};
