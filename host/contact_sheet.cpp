#include "host/contact_sheet.h"

#include <algorithm>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace tavro_host {

ContactSheet::ContactSheet(int maxCells, int thumbWidth)
    : maxCells_(std::max(1, maxCells)), thumbWidth_(std::max(16, thumbWidth)) {}

void ContactSheet::offer(int index, const cv::Mat& bgr, const cv::Mat& mask,
                         const cv::Mat& bokeh) {
  if (index % stride_ != 0 || bgr.empty()) return;
  const int th = std::max(1, bgr.rows * thumbWidth_ / std::max(1, bgr.cols));
  Cell cell{index, cv::Mat(), cv::Mat(), cv::Mat()};
  cv::resize(bgr, cell.frame, cv::Size(thumbWidth_, th), 0, 0, cv::INTER_AREA);
  cv::Mat m = mask.empty() ? cv::Mat::zeros(bgr.size(), CV_8UC1) : mask;
  cv::Mat small;
  cv::resize(m, small, cv::Size(thumbWidth_, th), 0, 0, cv::INTER_AREA);
  cv::cvtColor(small, cell.mask, cv::COLOR_GRAY2BGR);
  if (!bokeh.empty())
    cv::resize(bokeh, cell.bokeh, cv::Size(thumbWidth_, th), 0, 0, cv::INTER_AREA);
  cells_.push_back(std::move(cell));
  // Twice as many as needed: drop every other one and keep half as often.
  if (static_cast<int>(cells_.size()) >= 2 * maxCells_) {
    std::vector<Cell> kept;
    for (size_t i = 0; i < cells_.size(); i += 2) kept.push_back(std::move(cells_[i]));
    cells_.swap(kept);
    stride_ *= 2;
  }
}

std::vector<int> ContactSheet::keptIndices() const {
  std::vector<int> out;
  for (const Cell& c : cells_) out.push_back(c.index);
  return out;
}

cv::Mat ContactSheet::render() const {
  if (cells_.empty()) return cv::Mat();
  // Pick maxCells_ evenly from what is kept, first and last included.
  std::vector<const Cell*> picked;
  const size_t n = std::min(cells_.size(), size_t(maxCells_));
  for (size_t i = 0; i < n; ++i)
    picked.push_back(&cells_[n > 1 ? i * (cells_.size() - 1) / (n - 1) : 0]);
  int cellH = 0, thumbs = 2;
  for (const Cell* c : picked) {
    cellH = std::max(cellH, c->frame.rows);
    if (!c->bokeh.empty()) thumbs = 3;
  }
  const int gap = 6, label = 18, cols = 2;
  const int rows = static_cast<int>((picked.size() + cols - 1) / cols);
  const int pairW = thumbs * thumbWidth_ + (thumbs - 1) * gap;
  cv::Mat sheet(rows * (cellH + label + gap) + gap, cols * (pairW + 2 * gap) + gap, CV_8UC3,
                cv::Scalar(32, 32, 32));
  for (size_t i = 0; i < picked.size(); ++i) {
    const int x = gap + static_cast<int>(i % cols) * (pairW + 2 * gap);
    const int y = gap + static_cast<int>(i / cols) * (cellH + label + gap);
    const Cell& c = *picked[i];
    cv::putText(sheet, "frame " + std::to_string(c.index), cv::Point(x, y + 13),
                cv::FONT_HERSHEY_SIMPLEX, 0.45, cv::Scalar(230, 230, 230), 1, cv::LINE_AA);
    c.frame.copyTo(sheet(cv::Rect(x, y + label, c.frame.cols, c.frame.rows)));
    c.mask.copyTo(sheet(cv::Rect(x + thumbWidth_ + gap, y + label, c.mask.cols, c.mask.rows)));
    if (!c.bokeh.empty())
      c.bokeh.copyTo(sheet(cv::Rect(x + 2 * (thumbWidth_ + gap), y + label, c.bokeh.cols,
                                    c.bokeh.rows)));
  }
  return sheet;
}

bool ContactSheet::save(const std::string& path) const {
  cv::Mat sheet = render();
  // imwrite throws for a format this OpenCV cannot write (the Windows build
  // has no PNG or JPEG encoder); report it as a failed save instead.
  if (sheet.empty() || !cv::haveImageWriter(path)) return false;
  return cv::imwrite(path, sheet);
}

}  // namespace tavro_host
