#include "framework/exceptions.h"

#include <cstring>

CNotSupportedException::CNotSupportedException(const char* message) noexcept
{
    // Bounded copy: the message lives inside the exception, no allocation.
    std::strncpy(m_message, message ? message : "", sizeof m_message - 1);
    m_message[sizeof m_message - 1] = '\0';
}
