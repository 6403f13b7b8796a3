#include "gui/photoview.h"

#include <QGuiApplication>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

namespace kestrella::gui {

QImage ReadPhoto(const QString& path, const QSize& box) {
  QImageReader reader(path);
  reader.setAutoTransform(true);
  // size() and the scaled size are those of the picture as stored, before
  // it is turned; a picture turned by a quarter must fit the box turned too,
  // or a tall photo would come out squeezed into a wide box.
  const QSize stored = reader.size();
  const bool quarterTurn = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
  const QSize storedBox = quarterTurn ? box.transposed() : box;
  if (stored.isValid() && (stored.width() > storedBox.width() || stored.height() > storedBox.height())) {
    reader.setScaledSize(stored.scaled(storedBox, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
  }
  QImage image = reader.read();
  // Formats without scaled decoding come whole.
  if (!image.isNull() && (image.width() > box.width() || image.height() > box.height())) {
    image = image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  return image;
}

PhotoView* PhotoView::Open(const QString& path, const QString& title, QWidget* parent) {
  const QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen();
  // Room for the window's frame and title on the screen.
  const QSize room = screen != nullptr ? screen->availableGeometry().size() * 9 / 10 : QSize(800, 600);
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  const QImage picture = ReadPhoto(path, room);
  QGuiApplication::restoreOverrideCursor();
  if (picture.isNull()) return nullptr;
  auto* view = new PhotoView(picture, title, parent);
  view->show();
  return view;
}

PhotoView::PhotoView(const QImage& picture, const QString& title, QWidget* parent)
    : QDialog(parent), picture_(picture) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(title);
  setFixedSize(picture_.size());
  setCursor(Qt::PointingHandCursor);
}

void PhotoView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, picture_);
}

void PhotoView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    close();
    return;
  }
  QDialog::mousePressEvent(event);
}

}  // namespace kestrella::gui
