# Walking, listing, reporting on and cutting up whole archives, and adding files to one.
kdl_fuzz_target(archive_walk kdl_archive kdl_browse kdl_image kdl_drive kdl_codec kdl_common)
