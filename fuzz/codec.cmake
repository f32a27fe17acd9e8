# Track codec: the expander on arbitrary streams, and compress -> expand round trips.
kdl_fuzz_target(expand_track kdl_codec kdl_common)
kdl_fuzz_target(codec_roundtrip kdl_codec kdl_common)
