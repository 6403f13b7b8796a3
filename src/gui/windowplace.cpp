#include "gui/windowplace.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace kestrella::gui {

namespace {

// Between the two windows, so that their frames do not touch.
constexpr int kGap = 4;

int64_t Area(const QRect& r) { return r.isEmpty() ? 0 : int64_t{r.width()} * r.height(); }

// r moved up or down as little as needed to stay on the screen.
QRect OnScreenVertically(QRect r, const QRect& screen) {
  if (r.bottom() > screen.bottom()) r.moveBottom(screen.bottom());
  if (r.top() < screen.top()) r.moveTop(screen.top());
  return r;
}

// The parts of r that stay clear of `clear` on each of its four sides.
std::vector<QRect> Trimmed(const QRect& r, const QRect& clear) {
  if (!r.intersects(clear)) return {r};
  QRect above = r, below = r, left = r, right = r;
  above.setBottom(clear.top() - kGap - 1);
  below.setTop(clear.bottom() + kGap + 1);
  left.setRight(clear.left() - kGap - 1);
  right.setLeft(clear.right() + kGap + 1);
  return {above, below, left, right};
}

}  // namespace

QRect PlaceBeside(const QRect& beside, const QSize& wanted, const QSize& minimum,
                  const QRect& screen, const QRect& keepClear) {
  const QSize size = wanted.expandedTo(minimum).boundedTo(screen.size());
  const int top = beside.top();
  const int roomRight = screen.right() - beside.right() - kGap;
  const int roomLeft = beside.left() - screen.left() - kGap;
  const QRect right(QPoint(beside.right() + 1 + kGap, top), size);
  const QRect left(QPoint(beside.left() - kGap - size.width(), top), size);
  if (roomRight >= size.width()) return OnScreenVertically(right, screen);
  if (roomLeft >= size.width()) return OnScreenVertically(left, screen);
  const int room = std::max(roomRight, roomLeft);
  if (room >= minimum.width()) {
    QRect narrow = roomRight >= roomLeft ? right : left;
    if (roomRight >= roomLeft) {
      narrow.setWidth(room);
    } else {
      narrow.setLeft(screen.left());
    }
    return OnScreenVertically(narrow, screen);
  }

  // No side has room: a corner of the screen, shortened or narrowed where it
  // would cover the button, covering as little of the window as it can and
  // otherwise as large as it can be.
  QRect corner(screen.topLeft(), size);
  const QPoint corners[] = {
      {screen.right() + 1 - size.width(), screen.top()},
      {screen.left(), screen.top()},
      {screen.right() + 1 - size.width(), screen.bottom() + 1 - size.height()},
      {screen.left(), screen.bottom() + 1 - size.height()},
  };
  QRect best;
  int64_t bestCover = std::numeric_limits<int64_t>::max();
  for (const QPoint& at : corners) {
    corner.moveTopLeft(at);
    for (const QRect& r : Trimmed(corner, keepClear)) {
      if (r.width() < minimum.width() || r.height() < minimum.height()) continue;
      const int64_t cover = Area(r & beside);
      if (cover < bestCover || (cover == bestCover && Area(r) > Area(best))) {
        best = r;
        bestCover = cover;
      }
    }
  }
  // The screen is too small to leave the button free: the first corner.
  if (best.isNull()) best = QRect(corners[0], size);
  return best;
}

}  // namespace kestrella::gui
