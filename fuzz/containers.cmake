# Reading the disk images of other tools: one target per container format.
foreach(_format d88 fdi imd gzip hdm)
  kdl_fuzz_target(container_${_format} kdl_drive kdl_common)
endforeach()
