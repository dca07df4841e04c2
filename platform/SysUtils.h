#pragma once

// The few runtime-library pieces the components and the window rely on:
// the exception root, conversion and I/O errors, integer conversion and
// file-name extraction.

#include <cstdint>
#include <exception>
#include <string>

namespace platform {

// Root of every exception the components raise; carries its message text.
class Exception : public std::exception {
public:
    explicit Exception(std::string message)
        : Message(std::move(message))
    {
    }
    const char* what() const noexcept override { return Message.c_str(); }

    std::string Message;
};

// Raised by StrToInt for a text that is not an integer.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// An input/output error of the runtime with its error code, e.g. 105 when
// standard output is not open for writing.
class EInOutError : public Exception {
public:
    EInOutError(int errorCode, std::string message)
        : Exception(std::move(message))
        , ErrorCode(errorCode)
    {
    }
    int ErrorCode;
};

// Converts a text to a 32-bit signed integer: optional leading blanks, an
// optional sign, then decimal digits or a hexadecimal number introduced by
// "$", "x" or "0x". Anything else, the empty text included, or a value out of
// range raises EConvertError "'<text>' 不是一个有效的整形值".
std::int32_t StrToInt(const std::string& text);

// Like StrToInt, but returns false instead of raising.
bool TryStrToInt(const std::string& text, std::int32_t& value);

// The file-name part of a path: what follows its last '/', '\\' or ':'.
std::string ExtractFileName(const std::string& path);

// Days since 1899-12-30 as a floating value, with the fraction as the time
// of day (the runtime's date-time representation); monotonic within a run.
double Now();

} // namespace platform
