#include "gui/fpreview.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

#include "gui/photoview.h"
#include "gui/savestep.h"
#include "gui/thumbnailbox.h"
#include "gui/windowplace.h"

namespace kestrella::gui {

namespace {

// Around the white area of thumbnails.
constexpr int kMargin = 4;

void Colour(QWidget* w, const QColor& c) {
  QPalette pal = w->palette();
  pal.setColor(QPalette::Window, c);
  w->setPalette(pal);
  w->setAutoFillBackground(true);
}

// Restores the cursor on every way out, a throwing copy included.
struct WaitCursor {
  WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

TFrmPreview::TFrmPreview(FoundFileList& files, QWidget* parent) : QDialog(parent), files_(files) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(tr("Preview"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setSizeGripEnabled(true);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* mainpanel = new QWidget(this);
  mainpanel->setObjectName("mainpanel");
  Colour(mainpanel, ThumbnailBox::PanelColour());
  outer->addWidget(mainpanel);
  auto* mainLayout = new QVBoxLayout(mainpanel);
  mainLayout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
  mainLayout->setSpacing(0);

  auto* subpanel = new QWidget(mainpanel);
  subpanel->setObjectName("subpanel");
  Colour(subpanel, Qt::white);
  auto* subLayout = new QVBoxLayout(subpanel);
  subLayout->setContentsMargins(0, 0, 0, 0);
  scroll_ = new QScrollArea(subpanel);
  scroll_->setObjectName("scrollbox_preview");
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // The box takes the viewport's width and lays its columns out in it.
  scroll_->setWidgetResizable(true);
  Colour(scroll_->viewport(), Qt::white);
  box_ = new ThumbnailBox(files_, scroll_);
  box_->setObjectName("PanelBox");
  scroll_->setWidget(box_);
  // A wheel notch scrolls three lines: make that one row of thumbnails.
  scroll_->verticalScrollBar()->setSingleStep(box_->RowPitch() / 3);
  subLayout->addWidget(scroll_);
  mainLayout->addWidget(subpanel, 1);

  auto* menupanel = new QWidget(mainpanel);
  menupanel->setObjectName("menupanel");
  Colour(menupanel, QColor(0xCC, 0xF7, 0xAC));
  auto* buttons = new QHBoxLayout(menupanel);
  buttons->setContentsMargins(6, 4, 6, 4);
  auto* selectAll = new QPushButton(tr("Select All"), menupanel);
  selectAll->setObjectName("ButtonSelectAll");
  auto* selectNone = new QPushButton(tr("Select None"), menupanel);
  selectNone->setObjectName("ButtonSelectNone");
  ok_ = new QPushButton(tr("OK"), menupanel);
  ok_->setObjectName("ButtonOK");
  ok_->setDefault(true);
  cancel_ = new QPushButton(tr("Cancel"), menupanel);
  cancel_->setObjectName("ButtonCancel");
  cancel_->setVisible(false);
  buttons->addWidget(selectAll);
  buttons->addWidget(selectNone);
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  mainLayout->addWidget(menupanel);
  // OK first in tab order, then the thumbnails.
  setTabOrder(ok_, cancel_);
  setTabOrder(cancel_, box_);
  setTabOrder(box_, selectAll);
  setTabOrder(selectAll, selectNone);
  ok_->setFocus();

  resize(sizeHint());

  connect(selectAll, &QPushButton::clicked, this, &TFrmPreview::SelectAll);
  connect(selectNone, &QPushButton::clicked, this, &TFrmPreview::SelectNone);
  connect(ok_, &QPushButton::clicked, this, &TFrmPreview::OkClicked);
  connect(cancel_, &QPushButton::clicked, this, &TFrmPreview::CancelClicked);
  connect(box_, &ThumbnailBox::ShowRect, this, [this](const QRect& r) {
    scroll_->ensureVisible(r.center().x(), r.center().y(), r.width() / 2, r.height() / 2);
  });
  connect(box_, &ThumbnailBox::Opened, this, &TFrmPreview::OpenPhoto);
}

TFrmPreview::~TFrmPreview() {
  WaitCursor wait;
  // The box paints from the list, which may go right after this dialog.
  box_->StopDecoding();
  delete box_;
  box_ = nullptr;
  files_.DeleteImageFiles();
}

void TFrmPreview::SetHooks(Hooks hooks) { hooks_ = std::move(hooks); }

void TFrmPreview::AddImage(const QString& path) {
  files_.AddImage(path.toStdString());
  ShowAdded();
}

void TFrmPreview::ShowAdded() { box_->Added(); }

int TFrmPreview::ImageCount() const { return static_cast<int>(files_.ImageCount()); }

void TFrmPreview::SelectAll() {
  files_.SelectAll(true);
  box_->update();
}

void TFrmPreview::SelectNone() {
  files_.SelectAll(false);
  box_->update();
}

bool TFrmPreview::IsTicked(int n) const { return files_.Files().at(n - 1).ticked; }

SaveReport TFrmPreview::SaveSelectedImages(const QString& dest, const SaveNaming& naming) {
  saving_ = true;
  // A hidden preview (the save without one) leaves the gauge to the window.
  QWidget* over = isVisible() || parentWidget() == nullptr ? this : parentWidget();
  const std::vector<SaveAttempt> attempts = SaveUntilDone(over, files_, dest, naming, hooks_.reportFailures, hooks_.acceptFolder);
  saving_ = false;
  SaveReport all;
  for (const SaveAttempt& a : attempts) {
    if (hooks_.saved) hooks_.saved(a);
    all.saved.insert(all.saved.end(), a.report.saved.begin(), a.report.saved.end());
    all.savedFrom.insert(all.savedFrom.end(), a.report.savedFrom.begin(), a.report.savedFrom.end());
  }
  if (!attempts.empty()) {
    all.problems = attempts.back().report.problems;
    all.notTried = attempts.back().report.notTried;
  }
  return all;
}

void TFrmPreview::BeginSaveStep() {
  setWindowTitle(tr("Save Images"));
  ok_->setText(tr("Save Images"));
  cancel_->setVisible(true);
}

QSize TFrmPreview::ChromeSize() const {
  // Everything around the thumbnails: the margins, the scroll area's frame
  // and bar, the row of buttons.
  const int frame = 2 * scroll_->frameWidth();
  const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scroll_);
  const QWidget* menupanel = findChild<QWidget*>("menupanel");
  return QSize(2 * kMargin + frame + bar, 2 * kMargin + frame + menupanel->sizeHint().height());
}

QSize TFrmPreview::sizeHint() const {
  // Room for four columns and two rows of thumbnails to begin with.
  return ChromeSize() + QSize(box_->WidthFor(4), 2 * box_->RowPitch() + 2);
}

QSize TFrmPreview::MinimumPlacedSize() const {
  const QSize thumbnails = ChromeSize() + QSize(box_->WidthFor(1), box_->RowPitch() + 2);
  return thumbnails.expandedTo(minimumSizeHint());
}

void TFrmPreview::PlaceBesideWindow(const QWidget* window, const QWidget* keepClear) {
  const QScreen* screen = window->screen();
  if (screen == nullptr) return;
  // Not shown yet, the dialog has no frame to measure; the window's frame is
  // of the same kind.
  const QSize frame = window->frameGeometry().size() - window->size();
  const QRect clear = keepClear != nullptr && keepClear->isVisible()
                          ? QRect(keepClear->mapToGlobal(QPoint()), keepClear->size())
                          : QRect();
  const QRect place = PlaceBeside(window->frameGeometry(), size() + frame,
                                  MinimumPlacedSize() + frame, screen->availableGeometry(), clear);
  resize(place.size() - frame);
  move(place.topLeft());
}

PhotoView* TFrmPreview::OpenPhoto(int n) {
  if (n < 1 || n > ImageCount()) return nullptr;
  const FoundFile& f = files_.Image(static_cast<size_t>(n));
  return PhotoView::Open(QString::fromStdString(f.path), QString::fromStdString(ShownName(f)), this);
}

QRect TFrmPreview::PanelGeometry(int n) const { return box_->PanelGeometry(n); }
QRect TFrmPreview::CheckBoxGeometry(int n) const { return box_->CheckBoxGeometry(n); }
int TFrmPreview::PanelBoxHeight() const { return box_->height(); }

void TFrmPreview::OkClicked() {
  if (saving_) return;
  if (hooks_.runInProgress && hooks_.runInProgress()) {
    // Files keep arriving. Only the dialog goes: the window's Preview option
    // stays, and the save step shows the dialog again to choose.
    hide();
    return;
  }
  const QString dest = hooks_.destFolder ? hooks_.destFolder() : QString();
  const SaveNaming naming = hooks_.naming ? hooks_.naming() : SaveNaming{};
  if (dest.isEmpty()) {
    // Closing now would delete every found file with nothing saved.
    QMessageBox::warning(this, windowTitle(), tr("Choose a destination folder first."));
    return;
  }
  SaveSelectedImages(dest, naming);
  done(QDialog::Accepted);
}

bool TFrmPreview::ConfirmDiscard() {
  return QMessageBox::question(this, windowTitle(),
                               tr("Discard the %1 found photos?").arg(files_.ImageCount()),
                               QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void TFrmPreview::CancelClicked() {
  if (saving_ || (files_.ImageCount() > 0 && !ConfirmDiscard())) return;
  done(kResultDiscarded);
}

void TFrmPreview::reject() {
  if (hooks_.runInProgress && hooks_.runInProgress()) {
    hide();
  } else if (cancel_->isVisibleTo(this)) {
    CancelClicked();
  }
}

}  // namespace kestrella::gui
