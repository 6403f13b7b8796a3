// The container of the preview's thumbnails. A run can find tens of thousands
// of files, so no widget is made per thumbnail: the box paints the panels of
// the rows in view, hit-tests the tick boxes itself, and decodes pictures on a
// small thread pool only when their panel is painted, keeping a bounded cache.
//
// The panels are as wide as their texts need in the box's font, and as many
// go in a row as the box's width holds. The box takes the keyboard focus: the
// arrow keys move between the thumbnails and Space ticks or unticks one.
#pragma once

#include <QCache>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QWidget>

#include <deque>
#include <vector>

#include "app/foundfiles.h"

namespace kestrella::gui {

class ThumbnailBox : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kPictureSide = 115;

  // files stays owned by the caller and must outlive the box.
  ThumbnailBox(FoundFileList& files, QWidget* parent);
  ~ThumbnailBox() override;

  // Called after the caller appended to the list: adds the thumbnails of the
  // files it gained since the last call.
  void Added();

  // The grid as the box's width and font make it.
  int Columns() const;
  int ColumnPitch() const { return columnPitch_; }
  int RowPitch() const { return rowPitch_; }
  // The width that holds `columns` panels.
  int WidthFor(int columns) const { return columns * columnPitch_ + 2; }

  // Geometry of thumbnail n (from 1) in box coordinates.
  QRect PanelGeometry(int n) const;
  QRect CheckBoxGeometry(int n) const;
  QRect PictureGeometry(int n) const;
  // Thumbnail under pos, 0 for none.
  int PanelAt(const QPoint& pos) const;

  bool HasPicture(int n) const;
  QSize PictureSize(int n) const;
  // kind + " File" when the thumbnail shows no picture (its kind is not an
  // image we decode, or decoding failed); empty while a picture is shown or
  // still on its way.
  QString Caption(int n) const;
  // The lines under the picture as drawn: the name (shortened in the middle
  // when it does not fit), the size, and the date when the card gave one.
  QStringList Lines(int n) const;
  // The thumbnail the keyboard works on (from 1; 0 while there is none).
  int Current() const { return current_; }
  void SetCurrent(int n);
  int DecodesStarted() const { return decodesStarted_; }

  // Drops queued decodes and waits for the running ones, so nobody reads the
  // temporary files any more.
  void StopDecoding();

  static QColor PanelColour();

 signals:
  // Another thumbnail became the current one: its rectangle, to scroll into
  // view, in box coordinates.
  void ShowRect(const QRect& rect);
  // Thumbnail n, which shows a picture (or will), was double-clicked outside
  // its tick box.
  void Opened(int n);

 protected:
  bool event(QEvent* event) override;
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  enum class Picture { Unrequested, Queued, Decoding, Shown, NotImage, Failed };
  // One per found file, so only what changes: the kind is read from the
  // file's name when a caption needs it.
  struct Thumb {
    Picture picture = Picture::Unrequested;
  };

  // Sizes the panels to the font and style, then the box to its rows.
  void Measure();
  void FitHeight();
  void Toggle(int n);
  void Request(int n);
  void Pump();
  void Decoded(int n, const QImage& image);
  bool InView(int n) const;
  int Count() const { return static_cast<int>(thumbs_.size()); }
  QString FullName(int n) const;
  // The extension of thumbnail n's file, without the dot, as written.
  QString Kind(int n) const;

  FoundFileList& files_;
  std::vector<Thumb> thumbs_;  // entry n - 1 belongs to thumbnail n
  QCache<int, QPixmap> pictures_;
  std::deque<int> queue_;
  int inFlight_ = 0;
  int decodesStarted_ = 0;
  bool stopped_ = false;
  int current_ = 0;
  // Measured from the font and style (see Measure).
  int panelWidth_ = 0;
  int columnPitch_ = 0;
  int rowPitch_ = 0;
  int tickHeight_ = 0;
  int lineHeight_ = 0;
  QThreadPool pool_;
};

}  // namespace kestrella::gui
