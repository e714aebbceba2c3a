// The error that the main window's commands raise: it carries the message text that the
// window's one guard shows in its message box. Every layer that reports to the window uses it,
// so it sits at the root of the include tree and depends on nothing.
#pragma once

#include <stdexcept>
#include <string>

class EVarnelloError : public std::runtime_error {
public:
    explicit EVarnelloError(const std::string& message) : std::runtime_error(message) {}
};
