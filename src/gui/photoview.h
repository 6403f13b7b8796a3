// Reading a found photo the way the camera meant it to be seen, and the
// window that shows one enlarged.
#pragma once

#include <QDialog>
#include <QImage>
#include <QSize>
#include <QString>

namespace kestrella::gui {

// The photo at path, turned by its EXIF orientation and shrunk to fit box
// (never enlarged). A JPEG is decoded straight at the smaller size, which is
// many times faster than decoding it whole. Null when it cannot be read.
QImage ReadPhoto(const QString& path, const QSize& box);

// A window showing one photo as large as the screen allows. Escape or a click
// closes it; it frees itself when closed.
class PhotoView : public QDialog {
  Q_OBJECT

 public:
  // Null when the file cannot be shown as a picture.
  static PhotoView* Open(const QString& path, const QString& title, QWidget* parent);

  QSize PictureSize() const { return picture_.size(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  PhotoView(const QImage& picture, const QString& title, QWidget* parent);

  QImage picture_;
};

}  // namespace kestrella::gui
