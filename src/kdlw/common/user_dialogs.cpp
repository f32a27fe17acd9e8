#include "kdlw/common/user_dialogs.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QInputDialog>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPushButton>
#include <QTreeView>
#include <array>
#include <vector>

#include "kdlw/components/file_list_model.h"

namespace kdlw {
namespace {

QMessageBox::Icon ToQtIcon(kdl::Icon icon) {
  switch (icon) {
    case kdl::Icon::kStop:
      return QMessageBox::Critical;
    case kdl::Icon::kQuestion:
      return QMessageBox::Question;
    case kdl::Icon::kExclamation:
      return QMessageBox::Warning;
    case kdl::Icon::kInformation:
      return QMessageBox::Information;
    case kdl::Icon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

struct ButtonDef {
  QMessageBox::StandardButton button;
  kdl::Answer answer;
  const char* text;
};

constexpr ButtonDef kOk{QMessageBox::Ok, kdl::Answer::kOk, "OK"};
constexpr ButtonDef kYes{QMessageBox::Yes, kdl::Answer::kYes, "はい(&Y)"};
constexpr ButtonDef kNo{QMessageBox::No, kdl::Answer::kNo, "いいえ(&N)"};
constexpr ButtonDef kCancel{QMessageBox::Cancel, kdl::Answer::kCancel, "キャンセル"};
constexpr ButtonDef kRetry{QMessageBox::Retry, kdl::Answer::kRetry, "再試行(&R)"};
constexpr ButtonDef kAbort{QMessageBox::Abort, kdl::Answer::kAbort, "中止(&A)"};
constexpr ButtonDef kIgnore{QMessageBox::Ignore, kdl::Answer::kIgnore, "無視(&I)"};

// The buttons of each set in their usual order; the first is the default.
std::vector<ButtonDef> ButtonsOf(kdl::Buttons buttons) {
  switch (buttons) {
    case kdl::Buttons::kOk:
      return {kOk};
    case kdl::Buttons::kYesNo:
      return {kYes, kNo};
    case kdl::Buttons::kRetryCancel:
      return {kRetry, kCancel};
    case kdl::Buttons::kAbortRetryIgnore:
      return {kAbort, kRetry, kIgnore};
    case kdl::Buttons::kYesNoCancel:
      return {kYes, kNo, kCancel};
  }
  return {kOk};
}

// The size, type and date columns of Qt's own file dialog as the file list shows them: the type names in
// Japanese (Qt names a folder in English), the date short and in the same form, the size in the default
// locale's units.
class FileColumns : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;

  QVariant data(const QModelIndex& index, int role) const override {
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (role != Qt::DisplayRole || files == nullptr || index.column() < 1 || index.column() > 3)
      return QIdentityProxyModel::data(index, role);
    const QFileInfo info = files->fileInfo(mapToSource(index));
    switch (index.column()) {
      case 1:
        return info.isDir() ? QString() : QLocale().formattedDataSize(info.size());
      case 2: {
        const QMimeType mime = mimes_.mimeTypeForFile(info);
        return FileListModel::TypeName(mime.comment(), mime.isDefault(), info);
      }
      default:
        return FileListModel::DateText(info.lastModified());
    }
  }

 private:
  QMimeDatabase mimes_;
};

// Qt's own file dialog (used when the desktop offers none of its own) opens too narrow for its size and date
// columns: it gets the room to show all four.
constexpr int kFileDialogWidth = 720;
constexpr int kFileDialogHeight = 460;
constexpr std::array<int, 4> kFileColumnWidths{210, 80, 150, 110};

QString RunFileDialog(QWidget* parent, const QString& title, const QString& folder, const QString& filter,
                      QFileDialog::AcceptMode mode) {
  QFileDialog dialog(parent, title, folder, filter);
  dialog.setAcceptMode(mode);
  dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  if (auto* details = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
    dialog.setProxyModel(new FileColumns(&dialog));
    for (size_t c = 0; c < kFileColumnWidths.size(); ++c)
      details->header()->resizeSection(static_cast<int>(c), kFileColumnWidths[c]);
    dialog.resize(qMax(dialog.width(), kFileDialogWidth), qMax(dialog.height(), kFileDialogHeight));
  }
  if (mode == QFileDialog::AcceptSave) {
    // A name typed without an extension gets the one of the kind of file chosen (before the dialog asks
    // about replacing a file, so that it asks about the file it will really write).
    dialog.setDefaultSuffix(ExtensionOfFilter(dialog.selectedNameFilter()));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& chosen) {
      dialog.setDefaultSuffix(ExtensionOfFilter(chosen));
    });
  }
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles().value(0);
}

}  // namespace

QString ExtensionOfFilter(const QString& filter) {
  // The patterns are the words inside the last parentheses: "D88 (*.d88 *.d98)".
  const qsizetype open = filter.lastIndexOf(QLatin1Char('('));
  const qsizetype close = filter.lastIndexOf(QLatin1Char(')'));
  if (open < 0 || close < open) return {};
  const QString first =
      filter.mid(open + 1, close - open - 1).split(QLatin1Char(' '), Qt::SkipEmptyParts).value(0);
  if (!first.startsWith(QLatin1String("*.")) || first.size() == 2) return {};
  const QString extension = first.mid(2);
  if (extension.contains(QLatin1Char('*')) || extension.contains(QLatin1Char('?')) ||
      extension.contains(QLatin1Char('[')))
    return {};
  return extension;
}

kdl::Answer QtUserDialogs::Message(QWidget* parent, const QString& caption, const QString& text,
                                   kdl::Buttons buttons, kdl::Icon icon) {
  QMessageBox box(ToQtIcon(icon), caption, text, QMessageBox::NoButton, parent);
  const std::vector<ButtonDef> defs = ButtonsOf(buttons);
  QPushButton* last = nullptr;
  for (const ButtonDef& def : defs) {
    last = box.addButton(def.button);
    last->setText(QString::fromUtf8(def.text));
  }
  box.setDefaultButton(defs.front().button);
  // Esc and the close box stand for the last button (No, Cancel), or for Abort.
  box.setEscapeButton(buttons == kdl::Buttons::kAbortRetryIgnore ? box.button(defs.front().button) : last);
  box.exec();
  const QMessageBox::StandardButton chosen = box.standardButton(box.clickedButton());
  for (const ButtonDef& def : defs) {
    if (def.button == chosen) return def.answer;
  }
  return buttons == kdl::Buttons::kAbortRetryIgnore ? kdl::Answer::kAbort : defs.back().answer;
}

std::optional<QString> QtUserDialogs::InputText(QWidget* parent, const QString& caption,
                                                const QString& prompt, const QString& initial) {
  QInputDialog dialog(parent);
  dialog.setWindowTitle(caption);
  dialog.setLabelText(prompt);
  dialog.setTextValue(initial);
  dialog.setOkButtonText(QStringLiteral("OK"));
  dialog.setCancelButtonText(QStringLiteral("キャンセル"));
  // Paths are long; give the line room to show one whole.
  dialog.resize(qMax(dialog.sizeHint().width(), 480), dialog.sizeHint().height());
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.textValue();
}

QString QtUserDialogs::OpenFileName(QWidget* parent, const QString& title, const QString& folder,
                                    const QString& filter) {
  return RunFileDialog(parent, title, folder, filter, QFileDialog::AcceptOpen);
}

QString QtUserDialogs::SaveFileName(QWidget* parent, const QString& title, const QString& folder,
                                    const QString& filter) {
  return RunFileDialog(parent, title, folder, filter, QFileDialog::AcceptSave);
}

QStringList QtUserDialogs::OpenFileNames(QWidget* parent, const QString& title, const QString& folder) {
  return QFileDialog::getOpenFileNames(parent, title, folder);
}

QString QtUserDialogs::ExistingFolder(QWidget* parent, const QString& title, const QString& folder) {
  return QFileDialog::getExistingDirectory(parent, title, folder);
}

}  // namespace kdlw
