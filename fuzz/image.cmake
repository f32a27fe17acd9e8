# Opening and walking whole images, and reading and restoring single track units.
kdl_fuzz_target(image_walk kdl_browse kdl_image kdl_drive kdl_codec kdl_common)
kdl_fuzz_target(track_restore kdl_image kdl_drive kdl_codec kdl_common)
