# Changing hostile disks: the writable volume, its names and its damage check.
kdl_fuzz_target(volume_edit kdl_edit kdl_browse kdl_image kdl_fat kdl_drive kdl_codec kdl_common)
