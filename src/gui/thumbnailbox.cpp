#include "gui/thumbnailbox.h"

#include <QFileInfo>
#include <QFutureWatcher>
#include <QImageReader>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QtConcurrent/QtConcurrentRun>
#include <qdrawutil.h>

#include <algorithm>

namespace kestrella::gui {

namespace {

// Enough to keep the pool busy while the user scrolls; more would only queue
// decodes of rows that are gone by the time they finish.
constexpr int kMaxInFlight = 4;
// About fifty screens of thumbnails; each is at most 115 x 115.
constexpr int kCachedPictures = 600;

bool Decodable(const QString& kind) {
  static const QStringList kinds = [] {
    QStringList k{"BMP", "JPG", "JPEG", "ICO", "GIF", "PNG"};
    const QList<QByteArray> formats = QImageReader::supportedImageFormats();
    if (formats.contains("tif") || formats.contains("tiff")) k << "TIF" << "TIFF";
    return k;
  }();
  return kinds.contains(kind.toUpper());
}

// Runs on the pool. Asks the reader for the final size so that a JPEG is
// decoded at a fraction of its resolution instead of in full and then shrunk.
QImage DecodeThumbnail(const QString& path) {
  QImageReader reader(path);
  const QSize full = reader.size();
  const QSize box(ThumbnailBox::kPictureSide, ThumbnailBox::kPictureSide);
  if (full.isValid() && (full.width() > box.width() || full.height() > box.height())) {
    reader.setScaledSize(full.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
  }
  QImage image = reader.read();
  if (!image.isNull() && (image.width() > box.width() || image.height() > box.height())) {
    image = image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  return image;
}

}  // namespace

ThumbnailBox::ThumbnailBox(FoundFileList& files, QWidget* parent)
    : QWidget(parent), files_(files), pictures_(kCachedPictures) {
  pool_.setMaxThreadCount(2);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

ThumbnailBox::~ThumbnailBox() { StopDecoding(); }

void ThumbnailBox::StopDecoding() {
  stopped_ = true;
  queue_.clear();
  pool_.clear();
  pool_.waitForDone();
}

QColor ThumbnailBox::PanelColour() { return QColor(0xF4, 0xFD, 0xE1); }

QRect ThumbnailBox::PanelGeometry(int n) {
  return QRect(((n - 1) % kColumns) * kColumnPitch + 2, ((n - 1) / kColumns) * kRowPitch + 2, 125,
               kRowPitch - 2);
}

QRect ThumbnailBox::CheckBoxGeometry(int n) {
  return QRect(PanelGeometry(n).topLeft() + QPoint(5, 4), QSize(100, 17));
}

QRect ThumbnailBox::PictureGeometry(int n) {
  return QRect(PanelGeometry(n).topLeft() + QPoint(5, 24), QSize(kPictureSide, kPictureSide));
}

int ThumbnailBox::PanelAt(const QPoint& pos) {
  if (pos.x() < 2 || pos.y() < 2) return 0;
  const int column = (pos.x() - 2) / kColumnPitch;
  const int row = (pos.y() - 2) / kRowPitch;
  if (column >= kColumns) return 0;
  const int n = row * kColumns + column + 1;
  return PanelGeometry(n).contains(pos) ? n : 0;
}

void ThumbnailBox::Added() {
  // Every file the list gained since the last call gets its thumbnail.
  while (thumbs_.size() < files_.ImageCount()) {
    const int n = static_cast<int>(thumbs_.size()) + 1;
    Thumb t;
    t.kind = QFileInfo(QString::fromStdString(files_.Image(static_cast<size_t>(n)).path)).suffix();
    if (!Decodable(t.kind)) t.picture = Picture::NotImage;
    thumbs_.push_back(t);
    // The row of the new thumbnail must fit.
    setFixedHeight(((n - 1) / kColumns) * kRowPitch + kRowPitch + 2);
    update(PanelGeometry(n));
  }
}

bool ThumbnailBox::HasPicture(int n) const { return pictures_.contains(n); }

QSize ThumbnailBox::PictureSize(int n) const {
  const QPixmap* p = pictures_.object(n);
  return p ? p->size() : QSize();
}

QString ThumbnailBox::Caption(int n) const {
  if (n < 1 || n > static_cast<int>(thumbs_.size())) return QString();
  const Thumb& t = thumbs_[n - 1];
  if (t.picture == Picture::NotImage || t.picture == Picture::Failed) return t.kind + " File";
  return QString();
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

void ThumbnailBox::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  const QRect area = event->rect();
  p.fillRect(area, PanelColour());
  const int count = static_cast<int>(thumbs_.size());
  if (count == 0) return;

  const int firstRow = std::max(0, (area.top() - 2) / kRowPitch);
  const int lastRow = std::max(0, (area.bottom() - 2) / kRowPitch);
  // The tick box has a font of its own, a size smaller, so that its caption
  // fits the 100 pixels beside the picture.
  QFont tickFont = font();
  tickFont.setPointSizeF(std::max(6.0, font().pointSizeF() - 1.0));
  const QFontMetrics tickMetrics(tickFont);
  QFont captionFont = font();
  captionFont.setPointSize(10);
  captionFont.setBold(true);

  for (int row = firstRow; row <= lastRow; ++row) {
    for (int column = 0; column < kColumns; ++column) {
      const int n = row * kColumns + column + 1;
      if (n > count) break;
      const QRect panel = PanelGeometry(n);
      if (!panel.intersects(area)) continue;
      qDrawShadePanel(&p, panel, palette(), false, 1);

      QStyleOptionButton tick;
      tick.initFrom(this);
      tick.fontMetrics = tickMetrics;
      tick.rect = CheckBoxGeometry(n);
      tick.text = tr("Recover Image");
      tick.state = QStyle::State_Enabled |
                   (files_.Image(n).ticked ? QStyle::State_On : QStyle::State_Off);
      p.setFont(tickFont);
      style()->drawControl(QStyle::CE_CheckBox, &tick, &p, this);
      // The name the file is saved under, below its picture.
      const QRect nameLine(panel.left() + 4, PictureGeometry(n).bottom() + 2, panel.width() - 8,
                           panel.bottom() - PictureGeometry(n).bottom() - 3);
      const QString name = QString::fromStdString(ShownName(files_.Image(n)));
      p.drawText(nameLine, Qt::AlignHCenter | Qt::AlignVCenter,
                 tickMetrics.elidedText(name, Qt::ElideMiddle, nameLine.width()));

      if (const QPixmap* picture = pictures_.object(n)) {
        const QRect box = PictureGeometry(n);
        QRect target(QPoint(), picture->size());
        target.moveCenter(box.center());
        p.drawPixmap(target, *picture);
        continue;
      }
      const QString caption = Caption(n);
      if (!caption.isEmpty()) {
        p.save();
        p.setFont(captionFont);
        p.setPen(QColor(0x00, 0x00, 0x80));
        p.drawText(panel, Qt::AlignCenter, caption);
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
  if (event->button() == Qt::LeftButton && n >= 1 && n <= static_cast<int>(thumbs_.size()) &&
      CheckBoxGeometry(n).contains(pos)) {
    FoundFile& f = files_.Image(n);
    f.ticked = !f.ticked;
    update(PanelGeometry(n));
    return;
  }
  QWidget::mousePressEvent(event);
}

}  // namespace kestrella::gui
