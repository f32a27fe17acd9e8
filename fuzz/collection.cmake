# Serving arbitrary bytes as a mounted image and searching them.
kdl_fuzz_target(collection_walk kdl_mount kdl_collection kdl_archive kdl_browse kdl_image kdl_drive kdl_codec
                kdl_common)
