#include "gui/fformat.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <array>
#include <string>


namespace kestrella::gui {

namespace {

constexpr int kLabelLength = 11;

struct ClusterChoice {
  const char* text;
  uint32_t bytes;
};
constexpr std::array<ClusterChoice, 9> kClusterChoices{{
    {"Automatic", 0},
    {"512 bytes", 512},
    {"1 KB", 1024},
    {"2 KB", 2048},
    {"4 KB", 4096},
    {"8 KB", 8192},
    {"16 KB", 16384},
    {"32 KB", 32768},
    {"64 KB", 65536},
}};

bool LabelCharacter(QChar c) {
  if (c.unicode() > 0x7E) return false;
  const char a = c.toLatin1();
  if ((a >= 'A' && a <= 'Z') || (a >= '0' && a <= '9')) return true;
  return QByteArrayView(" !#$%&'()-@^_`{}~").contains(a);
}

// The last line mkfs.fat printed: on a failure it names the reason.
QString LastLine(const std::string& output) {
  const QStringList lines =
      QString::fromLocal8Bit(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  return lines.isEmpty() ? QString() : lines.last().trimmed();
}

// What the card holds now, read back from its boot sector.
QString Outcome(Engine& engine, const DriveEntry& drive) {
  const std::optional<FileSystemFound> found = engine.FileSystemAt(drive.number);
  if (!found || found->type.empty()) return QStringLiteral("Format complete.");
  const QString label = QString::fromLatin1(found->label.c_str()).trimmed();
  QString text = QStringLiteral("Format complete: %1").arg(QString::fromStdString(found->type));
  if (!label.isEmpty() && label != QStringLiteral("NO NAME"))
    text += QStringLiteral(", label %1").arg(label);
  return text + QLatin1Char('.');
}

}  // namespace

TFrmFormat::TFrmFormat(Engine& engine, const DriveEntry& drive, QWidget* parent)
    : QDialog(parent), engine_(engine), drive_(drive) {
  setObjectName(QStringLiteral("TFrmFormat"));
  const QString name = QStringLiteral("[%1:]").arg(QLatin1Char(drive_.Letter()));
  setWindowTitle(QStringLiteral("Format %1").arg(name));
  setModal(true);

  auto* v = new QVBoxLayout(this);
  // The drive by its path, kind and size, as the Tools page and the wipe
  // question name it: a letter alone is easily mistaken.
  const QString described = QString::fromStdString(DriveDescription(drive_));
  auto* warning = new QLabel(
      QStringLiteral("<b>Formatting erases everything on %1.</b> Recover your photos first: "
                     "after a format they are harder to find.")
          .arg(described.toHtmlEscaped()),
      this);
  warning->setObjectName(QStringLiteral("LabelWarning"));
  warning->setWordWrap(true);
  v->addWidget(warning);

  auto* grid = new QGridLayout;
  CBFileSystem = new QComboBox(this);
  CBFileSystem->setObjectName(QStringLiteral("CBFileSystem"));
  CBFileSystem->addItem(QStringLiteral("Automatic"), 0);
  CBFileSystem->addItem(QStringLiteral("FAT12"), 12);
  CBFileSystem->addItem(QStringLiteral("FAT16"), 16);
  CBFileSystem->addItem(QStringLiteral("FAT32"), 32);
  EditVolumeLabel = new QLineEdit(this);
  EditVolumeLabel->setObjectName(QStringLiteral("EditVolumeLabel"));
  EditVolumeLabel->setMaxLength(kLabelLength);
  EditVolumeLabel->setPlaceholderText(QStringLiteral("none"));
  CBClusterSize = new QComboBox(this);
  CBClusterSize->setObjectName(QStringLiteral("CBClusterSize"));
  for (const ClusterChoice& c : kClusterChoices)
    CBClusterSize->addItem(QString::fromLatin1(c.text), static_cast<uint>(c.bytes));
  grid->addWidget(new QLabel(QStringLiteral("File system:"), this), 0, 0);
  grid->addWidget(CBFileSystem, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("Volume label:"), this), 1, 0);
  grid->addWidget(EditVolumeLabel, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("Cluster size:"), this), 2, 0);
  grid->addWidget(CBClusterSize, 2, 1);
  v->addLayout(grid);

  LabelResult = new QLabel(this);
  LabelResult->setObjectName(QStringLiteral("LabelResult"));
  LabelResult->setWordWrap(true);
  LabelResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
  v->addWidget(LabelResult);

  auto* buttons = new QHBoxLayout;
  ButtonStart = new QPushButton(QStringLiteral("&Start"), this);
  ButtonStart->setObjectName(QStringLiteral("ButtonStart"));
  ButtonClose = new QPushButton(QStringLiteral("&Close"), this);
  ButtonClose->setObjectName(QStringLiteral("ButtonClose"));
  // Enter must not format by accident: no default button.
  ButtonStart->setAutoDefault(false);
  ButtonClose->setAutoDefault(false);
  buttons->addStretch();
  buttons->addWidget(ButtonStart);
  buttons->addWidget(ButtonClose);
  v->addLayout(buttons);

  connect(ButtonStart, &QPushButton::clicked, this, &TFrmFormat::StartClicked);
  connect(ButtonClose, &QPushButton::clicked, this, &QDialog::accept);
  connect(EditVolumeLabel, &QLineEdit::textEdited, this, &TFrmFormat::LabelEdited);
  // Wide enough for the warning to wrap into a few lines, in any font.
  setMinimumWidth(fontMetrics().averageCharWidth() * 50);
}

QString TFrmFormat::CleanLabel(const QString& text) {
  QString out;
  for (QChar c : text.toUpper()) {
    if (out.size() == kLabelLength) break;
    if (LabelCharacter(c)) out += c;
  }
  return out;
}

void TFrmFormat::LabelEdited(const QString& text) {
  const QString clean = CleanLabel(text);
  if (clean == text) return;
  const int cursor = EditVolumeLabel->cursorPosition() - static_cast<int>(text.size() - clean.size());
  EditVolumeLabel->setText(clean);
  EditVolumeLabel->setCursorPosition(std::max(0, cursor));
}

TFormatOptions TFrmFormat::Options() const {
  TFormatOptions o;
  o.fatBits = CBFileSystem->currentData().toInt();
  // Trailing blanks are only padding in the boot sector; a label of blanks
  // is no label.
  o.label = CleanLabel(EditVolumeLabel->text()).trimmed().toStdString();
  o.clusterBytes = CBClusterSize->currentData().toUInt();
  return o;
}

void TFrmFormat::StartClicked() {
  ButtonStart->setEnabled(false);
  ButtonClose->setEnabled(false);
  LabelResult->setText(QStringLiteral("Formatting..."));
  QApplication::setOverrideCursor(Qt::WaitCursor);
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  std::string output;
  status_ = FormatDrive(engine_.Context(), drive_, Options(), &output);
  QApplication::restoreOverrideCursor();
  if (status_ == 0) {
    LabelResult->setText(Outcome(engine_, drive_));
  } else if (status_ == kNotFormatted) {
    // The engine refused the drive and said why in a message box.
    LabelResult->setText(QStringLiteral("Not formatted."));
  } else {
    const QString why = LastLine(output);
    LabelResult->setText(QStringLiteral("Format failed (status %1)%2")
                             .arg(status_)
                             .arg(why.isEmpty() ? QString() : QStringLiteral(": ") + why));
  }
  ButtonStart->setEnabled(true);
  ButtonClose->setEnabled(true);
  ButtonClose->setFocus();
}

int TFrmFormat::Run() {
  exec();
  return status_;
}

}  // namespace kestrella::gui
