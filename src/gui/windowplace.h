// Where a window that works alongside the main window goes on the screen.
#pragma once

#include <QRect>
#include <QSize>

namespace kestrella::gui {

// The frame rectangle for a window of frame size `wanted` (at least
// `minimum`) beside the window whose frame is `beside`, on the screen area
// `screen`: right of it when that side has room, else left of it, else
// narrowed into the wider side when that still holds `minimum`; failing all
// that, the screen corner that covers the least of it. The result never
// covers `keepClear` (a button the user must still reach, in screen
// coordinates) as long as some corner leaves it free.
QRect PlaceBeside(const QRect& beside, const QSize& wanted, const QSize& minimum,
                  const QRect& screen, const QRect& keepClear);

}  // namespace kestrella::gui
