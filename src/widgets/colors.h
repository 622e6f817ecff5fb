// Colours as the layouts store them (0x00BBGGRR).

#pragma once

#include "nqtypes.h"

#include <QColor>

// Colours as the layouts store them: 0x00BBGGRR. Only plain colours are
// named here; the high byte is not looked at.
inline constexpr Cardinal clBlack = 0x000000;
inline constexpr Cardinal clRed = 0x0000FF;
inline constexpr Cardinal clYellow = 0x00FFFF;
inline constexpr Cardinal clBlue = 0xFF0000;
inline constexpr Cardinal clTeal = 0x808000;
inline constexpr Cardinal clAqua = 0xFFFF00;

inline QColor ColorFromTColor(Cardinal color)
{
    return QColor(static_cast<int>(color & 0xFFU), static_cast<int>((color >> 8U) & 0xFFU),
                  static_cast<int>((color >> 16U) & 0xFFU));
}
