// Errors of the host tool: every one is a single line that names the file
// (or the option) and the reason, printed by the command's entry point.
#pragma once

#include <string>

struct ToolError {
    std::string message;
};

[[noreturn]] inline void Fail(const std::string& message) { throw ToolError{message}; }

// "PATH: reason" with the system's text for errno_value.
[[noreturn]] void FailSystem(const std::string& path, int errno_value);
