// The window's pure rules: how a skin pixel is resolved against the colour key, how wide a progress
// bar is drawn, which region of the window a point falls in, and how the close button's look
// follows the mouse. No handles and no state: the window procedure feeds them plain values.
#pragma once

#include <cstdint>

namespace window {

// The window's geometry, in window coordinates: a 400 x 300 frame whose close button covers the
// columns 364 to 399 of the rows 0 to 14.
constexpr int Width = 400;
constexpr int Height = 300;
constexpr int CloseLeft = 364, CloseWidth = 36, CloseHeight = 15;

// The see-through colour of the window, RGB(236, 233, 216).
constexpr uint32_t KeyRed = 236, KeyGreen = 233, KeyBlue = 216;

// A skin pixel as a 32-bit value A << 24 | R << 16 | G << 8 | B (straight alpha) made opaque over
// the key colour: alpha 0 becomes the key colour itself, alpha 255 stays as it is, and anything in
// between is composed over the key colour, c = floor((C * A + K * (255 - A)) / 255). The result
// always has alpha 255.
constexpr uint32_t keyedPixel(uint32_t argb) {
    const uint32_t a = argb >> 24;
    if (a == 255) return argb;
    if (a == 0) return 0xFF000000u | KeyRed << 16 | KeyGreen << 8 | KeyBlue;
    auto over = [a](uint32_t c, uint32_t k) { return (c * a + k * (255 - a)) / 255; };
    return 0xFF000000u | over(argb >> 16 & 0xFF, KeyRed) << 16 | over(argb >> 8 & 0xFF, KeyGreen) << 8 |
           over(argb & 0xFF, KeyBlue);
}

// Width in pixels of a bar showing value of total: floor(value * 342 / total), formed in double
// precision so the product cannot overflow. 0 for a total of 0 (such a bar is not drawn at all).
constexpr uint32_t BarImageWidth = 342;
inline uint32_t barWidth(uint32_t value, uint32_t total) {
    if (total == 0) return 0;
    return static_cast<uint32_t>(static_cast<double>(value) * BarImageWidth / static_cast<double>(total));
}

// Regions of the window.
enum Region : uint32_t { Outside = 0, Body = 1, CloseButton = 2 };

// The region of a point in window coordinates. The coordinates come sign-extended from the mouse
// message; compared as unsigned, a negative one is never inside.
constexpr Region regionAt(int32_t x, int32_t y) {
    const uint32_t ux = static_cast<uint32_t>(x), uy = static_cast<uint32_t>(y);
    if (ux >= CloseLeft && ux < CloseLeft + CloseWidth && uy < CloseHeight) return CloseButton;
    if (ux < Width && uy < Height) return Body;
    return Outside;
}

// The close button's looks.
enum CloseLook : uint32_t { Normal = 1, Hover = 2, Pressed = 3 };

// The look after a mouse move: hover over the button, pressed when the key state is exactly the
// left button (no other button or key), normal anywhere else.
constexpr CloseLook lookAfterMove(Region region, uint32_t keyState) {
    if (region != CloseButton) return Normal;
    return keyState == 1 ? Pressed : Hover;
}

// The look after a left press: on the button a hovered (or pressed) look becomes pressed; a press
// that no move onto the button preceded keeps its look. Elsewhere the look does not change.
constexpr CloseLook lookAfterPress(CloseLook look, Region region) {
    if (region == CloseButton && look >= Hover) return Pressed;
    return look;
}

// A left release ends the launcher exactly when it happens over the close button, whatever its look.
constexpr bool releaseEndsLauncher(Region region) { return region == CloseButton; }

// A left press on the body drags the window.
constexpr bool pressDragsWindow(Region region) { return region == Body; }

}  // namespace window
