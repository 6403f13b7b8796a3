#include "gui/thumbnailbox.h"

#include <QDateTime>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QHelpEvent>
#include <QImageReader>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QToolTip>
#include <QtConcurrent/QtConcurrentRun>
#include <qdrawutil.h>

#include <algorithm>

#include "gui/photoview.h"
#include "util/sizetext.h"

namespace kestrella::gui {

namespace {

// Enough to keep the pool busy while the user scrolls; more would only queue
// decodes of rows that are gone by the time they finish.
constexpr int kMaxInFlight = 4;
// About fifty screens of thumbnails; each is at most 115 x 115.
constexpr int kCachedPictures = 600;
// Inside a panel: left and right of its contents, above the tick box, between
// its parts, below the last line.
constexpr int kInset = 4;
constexpr int kTop = 4;
constexpr int kSpacing = 3;
// The name, the size, the date.
constexpr int kLines = 3;

bool Decodable(const QString& kind) {
  static const QStringList kinds = [] {
    QStringList k{"BMP", "JPG", "JPEG", "ICO", "GIF", "PNG"};
    const QList<QByteArray> formats = QImageReader::supportedImageFormats();
    if (formats.contains("tif") || formats.contains("tiff")) k << "TIF" << "TIFF";
    return k;
  }();
  return kinds.contains(kind.toUpper());
}

// Runs on the pool.
QImage DecodeThumbnail(const QString& path) {
  return ReadPhoto(path, QSize(ThumbnailBox::kPictureSide, ThumbnailBox::kPictureSide));
}

QString TickText() { return ThumbnailBox::tr("Recover Image"); }

// The widest size and date the lines under a picture have to hold.
QString WidestSize() { return QStringLiteral("888.8 MB"); }
QString DateText(const FoundOrigin& origin) {
  if (!origin.modified) return QString();
  return QDateTime::fromSecsSinceEpoch(*origin.modified).toString(QStringLiteral("yyyy-MM-dd hh:mm"));
}
QString WidestDate() { return QStringLiteral("8888-88-88 88:88"); }

}  // namespace

ThumbnailBox::ThumbnailBox(FoundFileList& files, QWidget* parent)
    : QWidget(parent), files_(files), pictures_(kCachedPictures) {
  pool_.setMaxThreadCount(2);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  Measure();
}

ThumbnailBox::~ThumbnailBox() { StopDecoding(); }

void ThumbnailBox::StopDecoding() {
  stopped_ = true;
  queue_.clear();
  pool_.clear();
  pool_.waitForDone();
}

QColor ThumbnailBox::PanelColour() { return QColor(0xF4, 0xFD, 0xE1); }

void ThumbnailBox::Measure() {
  // The tick box as wide as a QCheckBox with the same text would ask to be,
  // so that "Recover Image" is never cut.
  QStyleOptionButton tick;
  tick.initFrom(this);
  tick.text = TickText();
  const QSize text = style()->itemTextRect(fontMetrics(), QRect(), Qt::TextShowMnemonic, false,
                                           tick.text).size();
  const QSize tickSize = style()->sizeFromContents(QStyle::CT_CheckBox, &tick, text, this);
  tickHeight_ = tickSize.height();
  lineHeight_ = fontMetrics().height();
  const int textWidth = std::max({tickSize.width(), fontMetrics().horizontalAdvance(WidestSize()),
                                  fontMetrics().horizontalAdvance(WidestDate())});
  panelWidth_ = std::max(kPictureSide, textWidth) + 2 * kInset;
  columnPitch_ = panelWidth_ + 2;
  const int panelHeight =
      kTop + tickHeight_ + kSpacing + kPictureSide + kSpacing + kLines * lineHeight_ + kTop;
  rowPitch_ = panelHeight + 2;
  setMinimumWidth(WidthFor(1));
  FitHeight();
  update();
}

void ThumbnailBox::FitHeight() {
  const int rows = (Count() + Columns() - 1) / Columns();
  setFixedHeight(std::max(1, rows) * rowPitch_ + 2);
}

int ThumbnailBox::Columns() const { return std::max(1, (width() - 2) / columnPitch_); }

QRect ThumbnailBox::PanelGeometry(int n) const {
  const int columns = Columns();
  // The grid sits in the middle of a box wider than its columns.
  const int left = std::max(0, (width() - WidthFor(columns)) / 2);
  return QRect(left + ((n - 1) % columns) * columnPitch_ + 2, ((n - 1) / columns) * rowPitch_ + 2,
               panelWidth_, rowPitch_ - 2);
}

QRect ThumbnailBox::CheckBoxGeometry(int n) const {
  return QRect(PanelGeometry(n).topLeft() + QPoint(kInset, kTop),
               QSize(panelWidth_ - 2 * kInset, tickHeight_));
}

QRect ThumbnailBox::PictureGeometry(int n) const {
  const QRect panel = PanelGeometry(n);
  return QRect(panel.left() + (panel.width() - kPictureSide) / 2,
               panel.top() + kTop + tickHeight_ + kSpacing, kPictureSide, kPictureSide);
}

int ThumbnailBox::PanelAt(const QPoint& pos) const {
  const int left = PanelGeometry(1).left();
  if (pos.x() < left || pos.y() < 2) return 0;
  const int column = (pos.x() - left) / columnPitch_;
  const int row = (pos.y() - 2) / rowPitch_;
  if (column >= Columns()) return 0;
  const int n = row * Columns() + column + 1;
  return n <= Count() && PanelGeometry(n).contains(pos) ? n : 0;
}

void ThumbnailBox::Added() {
  // Every file the list gained since the last call gets its thumbnail.
  const int before = Count();
  while (thumbs_.size() < files_.ImageCount()) {
    const int n = Count() + 1;
    Thumb t;
    if (!Decodable(Kind(n))) t.picture = Picture::NotImage;
    thumbs_.push_back(t);
  }
  if (Count() == before) return;
  // The row of the new thumbnails must fit.
  FitHeight();
  if (current_ == 0) current_ = 1;
  for (int n = before + 1; n <= Count(); ++n) update(PanelGeometry(n));
}

bool ThumbnailBox::HasPicture(int n) const { return pictures_.contains(n); }

QSize ThumbnailBox::PictureSize(int n) const {
  const QPixmap* p = pictures_.object(n);
  return p ? p->size() : QSize();
}

QString ThumbnailBox::Caption(int n) const {
  if (n < 1 || n > Count()) return QString();
  const Thumb& t = thumbs_[n - 1];
  if (t.picture == Picture::NotImage || t.picture == Picture::Failed) return Kind(n) + " File";
  return QString();
}

QString ThumbnailBox::Kind(int n) const {
  return QFileInfo(QString::fromStdString(files_.Image(static_cast<size_t>(n)).path)).suffix();
}

QString ThumbnailBox::FullName(int n) const {
  return QString::fromStdString(ShownName(files_.Image(static_cast<size_t>(n))));
}

QStringList ThumbnailBox::Lines(int n) const {
  if (n < 1 || n > Count()) return {};
  const FoundFile& f = files_.Image(static_cast<size_t>(n));
  const int width = panelWidth_ - 2 * kInset;
  const QString name = fontMetrics().elidedText(FullName(n), Qt::ElideMiddle, width);
  const qint64 bytes = QFileInfo(QString::fromStdString(f.path)).size();
  return {name, QString::fromStdString(FormatByteSize(static_cast<uint64_t>(bytes))),
          DateText(f.origin)};
}

void ThumbnailBox::SetCurrent(int n) {
  if (n < 1 || n > Count()) return;
  if (current_ >= 1 && current_ <= Count()) update(PanelGeometry(current_).adjusted(-2, -2, 2, 2));
  current_ = n;
  update(PanelGeometry(n).adjusted(-2, -2, 2, 2));
  emit ShowRect(PanelGeometry(n).adjusted(-2, -2, 2, 2));
}

void ThumbnailBox::Toggle(int n) {
  FoundFile& f = files_.Image(static_cast<size_t>(n));
  f.ticked = !f.ticked;
  update(PanelGeometry(n));
}

bool ThumbnailBox::InView(int n) const {
  return visibleRegion().intersects(PanelGeometry(n));
}

void ThumbnailBox::Request(int n) {
  Thumb& t = thumbs_[n - 1];
  if (t.picture == Picture::Shown && !pictures_.contains(n)) t.picture = Picture::Unrequested;
  if (t.picture != Picture::Unrequested) return;
  t.picture = Picture::Queued;
  queue_.push_back(n);
}

void ThumbnailBox::Pump() {
  while (!stopped_ && inFlight_ < kMaxInFlight && !queue_.empty()) {
    const int n = queue_.front();
    queue_.pop_front();
    Thumb& t = thumbs_[n - 1];
    if (!InView(n)) {
      // Scrolled away before its turn: ask again when it is painted again.
      t.picture = Picture::Unrequested;
      continue;
    }
    t.picture = Picture::Decoding;
    ++inFlight_;
    ++decodesStarted_;
    auto* watcher = new QFutureWatcher<QImage>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, n] {
      const QImage image = watcher->isCanceled() ? QImage() : watcher->result();
      watcher->deleteLater();
      --inFlight_;
      if (stopped_) return;
      Decoded(n, image);
      Pump();
    });
    const QString path = QString::fromStdString(files_.Image(n).path);
    watcher->setFuture(QtConcurrent::run(&pool_, DecodeThumbnail, path));
  }
}

void ThumbnailBox::Decoded(int n, const QImage& image) {
  Thumb& t = thumbs_[n - 1];
  if (image.isNull()) {
    t.picture = Picture::Failed;
  } else {
    t.picture = Picture::Shown;
    pictures_.insert(n, new QPixmap(QPixmap::fromImage(image)));
  }
  update(PanelGeometry(n));
}

bool ThumbnailBox::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    // The whole name, which the panel may show shortened.
    auto* help = static_cast<QHelpEvent*>(event);
    const int n = PanelAt(help->pos());
    if (n == 0) {
      QToolTip::hideText();
      event->ignore();
    } else {
      QToolTip::showText(help->globalPos(), FullName(n), this, PanelGeometry(n));
    }
    return true;
  }
  return QWidget::event(event);
}

void ThumbnailBox::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) Measure();
  QWidget::changeEvent(event);
}

void ThumbnailBox::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The columns follow the width; the rows follow the columns.
  FitHeight();
  update();
}

void ThumbnailBox::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  const QRect area = event->rect();
  p.fillRect(area, PanelColour());
  const int count = Count();
  if (count == 0) return;

  const int columns = Columns();
  const int firstRow = std::max(0, (area.top() - 2) / rowPitch_);
  const int lastRow = std::max(0, (area.bottom() - 2) / rowPitch_);
  QFont captionFont = font();
  captionFont.setPointSize(10);
  captionFont.setBold(true);
  // The size and date a shade lighter than the name, still easy to read on
  // the panel's pale green.
  const QColor detailColour(0x50, 0x50, 0x50);

  for (int row = firstRow; row <= lastRow; ++row) {
    for (int column = 0; column < columns; ++column) {
      const int n = row * columns + column + 1;
      if (n > count) break;
      const QRect panel = PanelGeometry(n);
      if (!panel.adjusted(-2, -2, 2, 2).intersects(area)) continue;
      qDrawShadePanel(&p, panel, palette(), false, 1);
      if (n == current_ && hasFocus()) {
        // The thumbnail the keys work on, plain to see.
        p.save();
        p.setPen(QPen(palette().color(QPalette::Highlight), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(panel.adjusted(0, 0, -1, -1));
        p.restore();
      }

      QStyleOptionButton tick;
      tick.initFrom(this);
      tick.rect = CheckBoxGeometry(n);
      tick.text = TickText();
      tick.state = QStyle::State_Enabled |
                   (files_.Image(n).ticked ? QStyle::State_On : QStyle::State_Off);
      style()->drawControl(QStyle::CE_CheckBox, &tick, &p, this);

      // The name the file is saved under, its size and its date, below its
      // picture.
      const QStringList lines = Lines(n);
      QRect line(panel.left() + kInset, PictureGeometry(n).bottom() + 1 + kSpacing,
                 panel.width() - 2 * kInset, lineHeight_);
      for (int i = 0; i < lines.size(); ++i) {
        p.setPen(i == 0 ? palette().color(QPalette::WindowText) : detailColour);
        p.drawText(line, Qt::AlignHCenter | Qt::AlignVCenter, lines[i]);
        line.translate(0, lineHeight_);
      }

      if (const QPixmap* picture = pictures_.object(n)) {
        QRect target(QPoint(), picture->size());
        target.moveCenter(PictureGeometry(n).center());
        p.drawPixmap(target, *picture);
        continue;
      }
      const QString caption = Caption(n);
      if (!caption.isEmpty()) {
        p.save();
        p.setFont(captionFont);
        p.setPen(QColor(0x00, 0x00, 0x80));
        p.drawText(PictureGeometry(n), Qt::AlignCenter, caption);
        p.restore();
      } else {
        Request(n);
      }
    }
  }
  Pump();
}

void ThumbnailBox::mousePressEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  const int n = PanelAt(pos);
  if (event->button() == Qt::LeftButton && n >= 1) {
    SetCurrent(n);
    if (CheckBoxGeometry(n).contains(pos)) Toggle(n);
    return;
  }
  QWidget::mousePressEvent(event);
}

void ThumbnailBox::mouseDoubleClickEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  const int n = PanelAt(pos);
  if (event->button() == Qt::LeftButton && n >= 1) {
    // The second click on a tick box ticks again, as on a QCheckBox.
    if (CheckBoxGeometry(n).contains(pos)) {
      Toggle(n);
    } else if (Caption(n).isEmpty()) {
      // Only what shows as a picture here is shown enlarged.
      emit Opened(n);
    }
    return;
  }
  QWidget::mouseDoubleClickEvent(event);
}

void ThumbnailBox::keyPressEvent(QKeyEvent* event) {
  const int count = Count();
  if (count == 0 || event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) {
    QWidget::keyPressEvent(event);
    return;
  }
  const int columns = Columns();
  const int rowsInView = std::max(1, parentWidget() ? parentWidget()->height() / rowPitch_ : 1);
  const int at = std::clamp(current_, 1, count);
  int to = at;
  switch (event->key()) {
    case Qt::Key_Left: to = at - 1; break;
    case Qt::Key_Right: to = at + 1; break;
    case Qt::Key_Up: to = at - columns; break;
    case Qt::Key_Down: to = at + columns; break;
    case Qt::Key_PageUp: to = at - columns * rowsInView; break;
    case Qt::Key_PageDown: to = at + columns * rowsInView; break;
    case Qt::Key_Home: to = 1; break;
    case Qt::Key_End: to = count; break;
    case Qt::Key_Space:
      SetCurrent(at);
      Toggle(at);
      return;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  // Up from the top row and down from the last row stay put; a page up or
  // down stops at the first row or the last thumbnail.
  if (event->key() == Qt::Key_PageUp && to < 1) to = (at - 1) % columns + 1;
  if (event->key() == Qt::Key_PageDown && to > count) to = count;
  if (to >= 1 && to <= count) SetCurrent(to);
}

}  // namespace kestrella::gui
