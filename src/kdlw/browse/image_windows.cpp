#include "kdlw/browse/image_windows.h"

#include "common/ini.h"
#include "kdlw/browse/copy_form.h"
#include "kdlw/browse/kdl_form.h"
#include "kdlw/browse/view_form.h"
#include "kdlw/image/kdi_form.h"

namespace kdlw {

ImageWindows::ImageWindows(AppContext& context, kdl::DriveSettings drives) : context_(context) {
  browse_ = std::make_unique<TKDLForm>(context);
  kdl::ImageState& image = browse_->Image();
  imageDialog_ = std::make_unique<TKDIForm>(context, image, std::move(drives));
  copy_ = std::make_unique<TCopyForm>(context, image);
  viewer_ = std::make_unique<TViewForm>(context, image);
  browse_->SetWindows(imageDialog_.get(), copy_.get(), viewer_.get());
}

// The dialogs go before the browse window, which holds the image they work on.
ImageWindows::~ImageWindows() {
  viewer_.reset();
  copy_.reset();
  imageDialog_.reset();
  browse_.reset();
}

void ImageWindows::Install() {
  WindowHooks& hooks = context_.windows;
  hooks.browse = [this](QWidget* parent) { browse_->Run(parent); };
  hooks.imageDialog = [this](QWidget* parent) { imageDialog_->Run(parent); };
  hooks.copy = [this](QWidget* parent) {
    // A copy started from the main window has no browse list to copy a selection from.
    copy_->SetSelection(nullptr, {});
    copy_->Run(parent);
  };
  hooks.viewer = [this](QWidget* parent) { viewer_->Run(parent); };
}

kdl::DriveSettings LoadDriveSettings() {
  kdl::IniFile ini;
  ini.Load(kdl::SettingsFilePath());
  return kdl::DriveSettingsFromIni(ini);
}

}  // namespace kdlw
