// A contact sheet: evenly spaced frames of the run, each beside its mask
// and, when given, the frame with its background blurred.
// Keeps only a bounded number of thumbnails however long the input is.
#pragma once

#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace tavro_host {

class ContactSheet {
 public:
  // Up to maxCells frame/mask pairs, thumbnails thumbWidth pixels wide.
  explicit ContactSheet(int maxCells = 8, int thumbWidth = 240);

  // Offers frame number index (frames are offered in order, from 0).
  void offer(int index, const cv::Mat& bgr, const cv::Mat& mask,
             const cv::Mat& bokeh = cv::Mat());
  // The picked cells laid out two per row; empty when nothing was offered.
  cv::Mat render() const;
  bool save(const std::string& path) const;
  // Frame numbers currently kept.
  std::vector<int> keptIndices() const;

 private:
  struct Cell {
    int index;
    cv::Mat frame, mask, bokeh;
  };
  int maxCells_, thumbWidth_;
  int stride_ = 1;  // keep every stride_-th frame
  std::vector<Cell> cells_;
};

}  // namespace tavro_host
