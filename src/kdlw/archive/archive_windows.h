// The windows over an archive, created once for the program's run: the archive window and the archive
// dialog. They work through the image windows (browse window, image dialog, copy dialog) and the one image
// object those hold. Install() points the application's archive hooks at them.
#pragma once

#include <memory>

#include "kdlw/app/app_context.h"

namespace kdlw {

class ImageWindows;
class TKDZForm;
class TKZIForm;

class ArchiveWindows {
 public:
  ArchiveWindows(AppContext& context, ImageWindows& imageWindows);
  ~ArchiveWindows();
  ArchiveWindows(const ArchiveWindows&) = delete;
  ArchiveWindows& operator=(const ArchiveWindows&) = delete;

  // Sets the archive window and archive dialog hooks of the context.
  void Install();

  TKDZForm& Archive() { return *archive_; }
  TKZIForm& ArchiveDialog() { return *archiveDialog_; }

 private:
  AppContext& context_;
  std::unique_ptr<TKZIForm> archiveDialog_;
  std::unique_ptr<TKDZForm> archive_;
};

}  // namespace kdlw
