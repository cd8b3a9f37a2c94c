#pragma once

#include <QColor>
#include <cstdint>

// Colours as the window's code writes them: 0x00BBGGRR, or 0x80000000 + n for the system colour
// with index n (5 is COLOR_WINDOW, 8 COLOR_WINDOWTEXT, ...). System colours are taken from the
// application's palette at the moment they are used, so they follow the desktop's theme.
namespace platform {

using Colour = std::uint32_t;

inline constexpr Colour kSystemColourFlag = 0x80000000u;
inline constexpr Colour COLOR_WINDOW = kSystemColourFlag + 5;
inline constexpr Colour COLOR_WINDOWTEXT = kSystemColourFlag + 8;

QColor toQColor(Colour colour);

}  // namespace platform
