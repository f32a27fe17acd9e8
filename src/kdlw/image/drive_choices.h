// The drives the image dialog offers: the letters of the settings file's drive list, then the floppy devices
// of this host that the list does not name. Nothing is opened to find them: the kernel's block device list
// says which devices are floppy controllers' drives, and which are removable with a floppy-sized medium.
//
// A text typed into the drive box that does not start with a drive letter is taken as a path: a block device,
// or a regular file holding a raw disk image, which then acts as the drive.
#pragma once

#include <QString>
#include <QStringList>

#include "drive/drive_settings.h"

namespace kdlw {

// "A:  /dev/fd0" for every letter with a device, in letter order, then the path of every other floppy
// device: a floppy controller's drive (fdN), or a removable disk whose medium has the size of one of the
// media types. `blockRoot` is the kernel's list of block devices, `devRoot` the folder of device files.
QStringList DriveChoices(const kdl::DriveSettings& settings,
                         const QString& blockRoot = QStringLiteral("/sys/block"),
                         const QString& devRoot = QStringLiteral("/dev"));

// The drive operand a choice or a typed text names: "A:" for a text that starts with a letter and a colon
// (followed by nothing or a blank), otherwise the text without surrounding blanks.
QString DriveOperandOf(const QString& text);

}  // namespace kdlw
