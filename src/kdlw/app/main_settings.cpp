// The main window's settings: read when it is created, written when it closes.
#include <QFileInfo>
#include <QGuiApplication>

#include "kdlw/app/main_form.h"
#include "kdlw/components/folder_view.h"
#include "kdlw/components/splitter.h"

namespace kdlw {

bool TMainForm::ShiftHeld() const {
  if (options_.shiftHeld) return options_.shiftHeld();
  return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
}

void TMainForm::LoadSettings() {
  kdl::IniFile ini;
  // A missing file reads as empty: every key keeps its default.
  ini.Load(QFile::encodeName(options_.settingsPath).toStdString());
  MainSettings defaults;
  defaults.current = options_.defaultFolder;
  defaults.placement = PlacementOf(*this, WindowPlacement{});
  const MainSettings s = ReadMainSettings(ini, defaults);
  folderView1_->SetPath(s.current);
  const int treeWidth = qMax(s.fdWidth, 1);
  splitter1_->setSizes({treeWidth, qMax(1, s.placement.Normal().width() - treeWidth)});
  loadedPlacement_ = s.placement;
  ApplyPlacement(*this, s.placement);
}

void TMainForm::SaveSettings() {
  if (CommandLineMode() || ShiftHeld()) return;
  const std::string path = QFile::encodeName(options_.settingsPath).toStdString();
  kdl::IniFile ini;
  // The file holds other sections too; one that exists but cannot be read is not overwritten.
  if (!ini.Load(path) && QFileInfo::exists(options_.settingsPath)) return;
  MainSettings s;
  s.current = folderView1_->Path();
  s.fdWidth = splitter1_->sizes().value(0, folderView1_->width());
  s.placement = PlacementOf(*this, loadedPlacement_);
  WriteMainSettings(ini, s);
  ini.Save(path);
}

}  // namespace kdlw
