#pragma once

// Every message box of the program goes through ShowMessageBox: a modal box
// with the application title, the text, an optional error icon and one
// "确定" button. Tests replace the box with a hook and look at the requests.

#include <exception>
#include <functional>
#include <string>

namespace app {

enum class MessageIcon { None, Error };

struct MessageBoxRequest {
    std::string Title;
    std::string Text;
    MessageIcon Icon = MessageIcon::None;
};

using MessageBoxHook = std::function<void(const MessageBoxRequest&)>;

// With a hook set, ShowMessageBox hands its request to the hook and shows
// nothing; an empty hook restores the real box. Returns the previous hook.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// Shows `text` (UTF-8) and returns when the user has closed the box. The
// title is platform::Application.Title.
void ShowMessageBox(const std::string& text, MessageIcon icon = MessageIcon::None);

// The message with "." appended when it is not empty and its last byte sorts
// above "." (a digit, a letter or a Chinese character, but not ".", "!", ")"
// or a blank).
std::string WithFinalPeriod(const std::string& message);

// The top-level error report: the exception's message, WithFinalPeriod, in a
// box with the error icon. Installed as platform::Application.OnException.
void ReportException(std::exception_ptr error);

} // namespace app
