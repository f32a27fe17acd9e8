// The modal questions the windows put to the user: message boxes, a one-line input box and the file
// dialogs. Windows reach them only through this interface, so that tests can answer from a script.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "common/prompt.h"

class QWidget;

namespace kdlw {

class UserDialogs {
 public:
  virtual ~UserDialogs() = default;

  // A message box with the caption, text, buttons and icon; returns the button chosen.
  virtual kdl::Answer Message(QWidget* parent, const QString& caption, const QString& text,
                              kdl::Buttons buttons, kdl::Icon icon) = 0;
  // One line of text with a default; empty when the user cancelled.
  virtual std::optional<QString> InputText(QWidget* parent, const QString& caption, const QString& prompt,
                                           const QString& initial) = 0;
  // A file to open or to save; empty when the user cancelled. `filter` is in Qt's "Text (*.x);;..." form.
  virtual QString OpenFileName(QWidget* parent, const QString& title, const QString& folder,
                               const QString& filter) = 0;
  virtual QString SaveFileName(QWidget* parent, const QString& title, const QString& folder,
                               const QString& filter) = 0;
  // Files to open, several at once; empty when the user cancelled. One file through OpenFileName unless
  // replaced.
  virtual QStringList OpenFileNames(QWidget* parent, const QString& title, const QString& folder) {
    const QString file = OpenFileName(parent, title, folder, {});
    return file.isEmpty() ? QStringList() : QStringList{file};
  }
  // An existing folder; empty when the user cancelled.
  virtual QString ExistingFolder(QWidget* parent, const QString& title, const QString& folder) {
    return OpenFileName(parent, title, folder, {});
  }
};

// The extension of the first pattern of a file dialog filter entry ("D88 (*.d88 *.d98)" gives "d88",
// "gzip img (*.img.gz)" "img.gz"); empty when that pattern is no plain "*.extension" ("*", "*.*").
QString ExtensionOfFilter(const QString& filter);

// The real dialogs: QMessageBox with Japanese button texts, QInputDialog and QFileDialog.
class QtUserDialogs : public UserDialogs {
 public:
  kdl::Answer Message(QWidget* parent, const QString& caption, const QString& text, kdl::Buttons buttons,
                      kdl::Icon icon) override;
  std::optional<QString> InputText(QWidget* parent, const QString& caption, const QString& prompt,
                                   const QString& initial) override;
  QString OpenFileName(QWidget* parent, const QString& title, const QString& folder,
                       const QString& filter) override;
  QString SaveFileName(QWidget* parent, const QString& title, const QString& folder,
                       const QString& filter) override;
  QStringList OpenFileNames(QWidget* parent, const QString& title, const QString& folder) override;
  QString ExistingFolder(QWidget* parent, const QString& title, const QString& folder) override;
};

}  // namespace kdlw
