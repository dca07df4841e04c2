#pragma once

// The program's standard output as a text stream: opened on first use from
// file descriptor 1, written line by line.

#include <string>

namespace app {

// Writes `text` followed by CR LF to standard output. When descriptor 1 is not
// open (closed, invalid, or of a kind the system cannot tell), the stream
// stays closed and platform::EInOutError 105 "I/O 错误 105" is raised; the
// next call tries to open it again. A write that fails raises the same error
// and closes the stream. A broken pipe never raises SIGPIPE.
void WriteStdOutLine(const std::string& text);

} // namespace app
