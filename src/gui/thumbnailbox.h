// The container of the preview's thumbnails. A run can find tens of thousands
// of files, so no widget is made per thumbnail: the box paints the panels of
// the rows in view, hit-tests the tick boxes itself, and decodes pictures on a
// small thread pool only when their panel is painted, keeping a bounded cache.
#pragma once

#include <QCache>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QThreadPool>
#include <QWidget>

#include <deque>
#include <vector>

#include "app/foundfiles.h"

namespace kestrella::gui {

class ThumbnailBox : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kColumns = 4;
  static constexpr int kColumnPitch = 127;
  static constexpr int kRowPitch = 163;
  static constexpr int kPictureSide = 115;

  // files stays owned by the caller and must outlive the box.
  ThumbnailBox(FoundFileList& files, QWidget* parent);
  ~ThumbnailBox() override;

  // Called after the caller appended to the list: adds the thumbnails of the
  // files it gained since the last call.
  void Added();

  // Geometry of thumbnail n (from 1) in box coordinates.
  static QRect PanelGeometry(int n);
  static QRect CheckBoxGeometry(int n);
  static QRect PictureGeometry(int n);
  // Thumbnail under pos, 0 for none.
  static int PanelAt(const QPoint& pos);

  bool HasPicture(int n) const;
  QSize PictureSize(int n) const;
  // kind + " File" when the thumbnail shows no picture (its kind is not an
  // image we decode, or decoding failed); empty while a picture is shown or
  // still on its way.
  QString Caption(int n) const;
  int DecodesStarted() const { return decodesStarted_; }

  // Drops queued decodes and waits for the running ones, so nobody reads the
  // temporary files any more.
  void StopDecoding();

  static QColor PanelColour();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  enum class Picture { Unrequested, Queued, Decoding, Shown, NotImage, Failed };
  struct Thumb {
    QString kind;  // extension without the dot, as written
    Picture picture = Picture::Unrequested;
  };

  void Request(int n);
  void Pump();
  void Decoded(int n, const QImage& image);
  bool InView(int n) const;

  FoundFileList& files_;
  std::vector<Thumb> thumbs_;  // entry n - 1 belongs to thumbnail n
  QCache<int, QPixmap> pictures_;
  std::deque<int> queue_;
  int inFlight_ = 0;
  int decodesStarted_ = 0;
  bool stopped_ = false;
  QThreadPool pool_;
};

}  // namespace kestrella::gui
