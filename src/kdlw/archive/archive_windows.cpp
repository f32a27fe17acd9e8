#include "kdlw/archive/archive_windows.h"

#include "kdlw/archive/kdz_form.h"
#include "kdlw/archive/kzi_form.h"
#include "kdlw/browse/image_windows.h"
#include "kdlw/browse/kdl_form.h"

namespace kdlw {

ArchiveWindows::ArchiveWindows(AppContext& context, ImageWindows& imageWindows) : context_(context) {
  archiveDialog_ =
      std::make_unique<TKZIForm>(context, imageWindows.Browse().Image(), imageWindows.ImageDialog());
  ArchiveWindowLinks links;
  links.browse = &imageWindows.Browse();
  links.imageDialog = &imageWindows.ImageDialog();
  links.copy = &imageWindows.Copy();
  links.archiveDialog = archiveDialog_.get();
  archive_ = std::make_unique<TKDZForm>(context, links);
}

// The archive window goes first: it reaches the dialog.
ArchiveWindows::~ArchiveWindows() {
  archive_.reset();
  archiveDialog_.reset();
}

void ArchiveWindows::Install() {
  WindowHooks& hooks = context_.windows;
  hooks.archive = [this](QWidget* parent) { archive_->Run(parent); };
  hooks.archiveDialog = [this](QWidget* parent) { archiveDialog_->Run(parent); };
}

}  // namespace kdlw
