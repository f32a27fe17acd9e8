// The windows over the open image, created once for the program's run: the browse window (which holds the
// image object), the image dialog, the copy dialog and the viewer. Install() points the application's window
// hooks at them; the archive windows reach the same objects through the accessors.
#pragma once

#include <memory>

#include "drive/drive_settings.h"
#include "kdlw/app/app_context.h"

namespace kdlw {

class TCopyForm;
class TKDIForm;
class TKDLForm;
class TViewForm;

class ImageWindows {
 public:
  ImageWindows(AppContext& context, kdl::DriveSettings drives);
  ~ImageWindows();
  ImageWindows(const ImageWindows&) = delete;
  ImageWindows& operator=(const ImageWindows&) = delete;

  // Sets the browse, image dialog, copy and viewer hooks of the context.
  void Install();

  TKDLForm& Browse() { return *browse_; }
  TKDIForm& ImageDialog() { return *imageDialog_; }
  TCopyForm& Copy() { return *copy_; }
  TViewForm& Viewer() { return *viewer_; }

 private:
  AppContext& context_;
  std::unique_ptr<TKDLForm> browse_;
  std::unique_ptr<TKDIForm> imageDialog_;
  std::unique_ptr<TCopyForm> copy_;
  std::unique_ptr<TViewForm> viewer_;
};

// The drive part of the settings file, as the image dialog uses it.
kdl::DriveSettings LoadDriveSettings();

}  // namespace kdlw
