// libFuzzer harness: arbitrary bytes as a Y4M file for the host program's
// reader; up to three frames are read.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/y4m.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = memfd_create("y4m", 0);
  if (fd < 0) return 0;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += size_t(n);
  }
  {
    tavro_host::Y4mReader reader;
    std::string error;
    if (reader.open("/proc/self/fd/" + std::to_string(fd), &error)) {
      tavro_host::I420Image frame;
      for (int i = 0; i < 3 && reader.read(frame); ++i) {
      }
    }
  }
  close(fd);
  return 0;
}
