#include "host/y4m.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>
#include <vector>

namespace tavro_host {

namespace {

bool ReadLine(std::FILE* f, std::string& line, size_t limit) {
  line.clear();
  int c;
  while ((c = std::fgetc(f)) != EOF) {
    if (c == '\n') return true;
    line.push_back(static_cast<char>(c));
    if (line.size() > limit) return false;
  }
  return false;
}

}  // namespace

Y4mReader::~Y4mReader() {
  if (file_) std::fclose(file_);
}

bool Y4mReader::open(const std::string& path, std::string* error) {
  file_ = std::fopen(path.c_str(), "rb");
  if (!file_) {
    *error = "cannot open " + path;
    return false;
  }
  std::string header;
  if (!ReadLine(file_, header, 4096) || header.compare(0, 10, "YUV4MPEG2 ") != 0) {
    *error = path + ": not a YUV4MPEG2 file";
    return false;
  }
  std::istringstream tokens(header.substr(10));
  std::string t;
  std::string colour = "420jpeg";
  while (tokens >> t) {
    if (t[0] == 'W') width_ = std::atoi(t.c_str() + 1);
    else if (t[0] == 'H') height_ = std::atoi(t.c_str() + 1);
    else if (t[0] == 'C') colour = t.substr(1);
    else if (t[0] == 'F') {
      int num = 0, den = 0;
      if (std::sscanf(t.c_str() + 1, "%d:%d", &num, &den) == 2 && num > 0 && den > 0)
        fps_ = double(num) / den;
    }
  }
  if (width_ <= 0 || height_ <= 0 || width_ > 16384 || height_ > 16384) {
    *error = path + ": bad frame size";
    return false;
  }
  if (colour == "mono") {
    mono_ = true;
  } else if (colour.compare(0, 3, "420") != 0) {
    *error = path + ": colour space C" + colour + " is not supported (need 4:2:0 or mono)";
    return false;
  }
  return true;
}

bool Y4mReader::read(I420Image& frame) {
  if (!file_ || !error_.empty()) return false;
  const std::string where = "frame " + std::to_string(frames_ + 1);
  std::string line;
  if (!ReadLine(file_, line, 4096)) {
    if (!line.empty() || !std::feof(file_)) error_ = where + ": cut short in its header";
    return false;
  }
  if (line.compare(0, 5, "FRAME") != 0) {
    error_ = where + ": no FRAME header";
    return false;
  }
  frame = I420Image(width_, height_);
  const auto readAll = [&](uint8_t* dst, size_t n) {
    const size_t got = std::fread(dst, 1, n, file_);
    if (got != n)
      error_ = where + ": cut short (" + std::to_string(got) + " of " + std::to_string(n) +
               " bytes of a plane)";
    return got == n;
  };
  if (!readAll(frame.y(), frame.lumaSize())) return false;
  if (mono_) {
    std::memset(frame.u(), 128, 2 * frame.chromaSize());
    ++frames_;
    return true;
  }
  const int fw = (width_ + 1) / 2, fh = (height_ + 1) / 2;
  std::vector<uint8_t> plane(size_t(fw) * fh);
  for (uint8_t* dst : {frame.u(), frame.v()}) {
    if (!readAll(plane.data(), plane.size())) return false;
    for (int r = 0; r < frame.chromaHeight(); ++r)
      std::memcpy(dst + size_t(r) * frame.chromaWidth(), plane.data() + size_t(r) * fw,
                  frame.chromaWidth());
  }
  ++frames_;
  return true;
}

Y4mWriter::~Y4mWriter() { close(); }

bool Y4mWriter::open(const std::string& path, int width, int height, double fps,
                     bool mono) {
  close();
  if (width <= 0 || height <= 0) return false;
  // "-" is standard output (never closed here, only flushed).
  file_ = path == "-" ? stdout : std::fopen(path.c_str(), "wb");
  if (!file_) return false;
  width_ = width;
  height_ = height;
  mono_ = mono;
  const int rate = fps > 0 ? static_cast<int>(std::lround(fps * 1000)) : 30000;
  std::fprintf(file_, "YUV4MPEG2 W%d H%d F%d:1000 Ip A1:1 %s\n", width, height,
               rate, mono ? "Cmono" : "C420jpeg");
  return true;
}

bool Y4mWriter::write(const I420Image& frame) {
  if (!file_ || mono_ || frame.width != width_ || frame.height != height_) return false;
  std::fputs("FRAME\n", file_);
  std::fwrite(frame.y(), 1, frame.lumaSize(), file_);
  const int fw = (width_ + 1) / 2, fh = (height_ + 1) / 2;
  const int cw = frame.chromaWidth(), ch = frame.chromaHeight();
  std::vector<uint8_t> plane(size_t(fw) * fh, 128);
  for (const uint8_t* src : {frame.u(), frame.v()}) {
    if (cw > 0 && ch > 0) {
      for (int r = 0; r < fh; ++r) {
        const uint8_t* row = src + size_t(std::min(r, ch - 1)) * cw;
        for (int c = 0; c < fw; ++c) plane[size_t(r) * fw + c] = row[std::min(c, cw - 1)];
      }
    }
    std::fwrite(plane.data(), 1, plane.size(), file_);
  }
  return std::ferror(file_) == 0;
}

bool Y4mWriter::writeGrey(const uint8_t* pixels) {
  if (!file_ || !mono_ || !pixels) return false;
  std::fputs("FRAME\n", file_);
  std::fwrite(pixels, 1, size_t(width_) * height_, file_);
  return std::ferror(file_) == 0;
}

void Y4mWriter::close() {
  if (file_ == stdout)
    std::fflush(file_);
  else if (file_)
    std::fclose(file_);
  file_ = nullptr;
}

}  // namespace tavro_host
