#pragma once

// Message numbers and event codes of the platform layer, in one place.
// They keep the values of the desktop message and socket services that the
// components were designed against, so that lParam layouts and numbers match.

#include <cstdint>

namespace platform {

using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

constexpr UINT WM_ACTIVATEAPP = 0x001C;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;

// Socket notifications of a component (event in the low word of lParam,
// error number in the high word) and the completion of a host look-up.
constexpr UINT WM_SOCKETEVENT = WM_USER + 101; // 1125
constexpr UINT WM_ASYNCDONE = WM_USER + 102;   // 1126

// Socket event codes, as carried in the low word of lParam.
constexpr std::uint16_t FD_READ = 0x01;
constexpr std::uint16_t FD_WRITE = 0x02;
constexpr std::uint16_t FD_OOB = 0x04;
constexpr std::uint16_t FD_ACCEPT = 0x08;
constexpr std::uint16_t FD_CONNECT = 0x10;
constexpr std::uint16_t FD_CLOSE = 0x20;

// The mask every fresh, connected or accepted socket is registered with.
constexpr long FD_ALL_EVENTS = FD_READ | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE; // 61

// The identifier of the one system timer a timer window runs.
constexpr std::uintptr_t TIMER_ID = 1;

constexpr LPARAM MakeSelectReply(std::uint16_t event, std::uint16_t error)
{
    return static_cast<LPARAM>((static_cast<std::uint32_t>(error) << 16) | event);
}
constexpr std::uint16_t SelectEvent(LPARAM lParam)
{
    return static_cast<std::uint16_t>(static_cast<std::uintptr_t>(lParam) & 0xFFFFu);
}
constexpr std::uint16_t SelectError(LPARAM lParam)
{
    return static_cast<std::uint16_t>((static_cast<std::uintptr_t>(lParam) >> 16) & 0xFFFFu);
}

} // namespace platform
