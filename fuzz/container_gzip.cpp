// Reads arbitrary bytes as a gzip'd disk image (see container_fuzz.h for what must hold).
#include "container_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return kdlfuzz::CheckContainer(data, size, kdl::DecodeContainer, kdl::ContainerFormat::kGzip);
}
