// Exceptions the framework throws.
#pragma once

#include <exception>

class CException : public std::exception {
public:
    const char* what() const noexcept override { return "CException"; }
};

// Thrown when an operation cannot be carried out on this window or control,
// for example binding a control identifier that the dialog does not contain.
class CNotSupportedException : public CException {
public:
    explicit CNotSupportedException(const char* message) noexcept;
    const char* what() const noexcept override { return m_message; }

private:
    char m_message[96];
};
