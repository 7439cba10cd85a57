#include "host/demo_clip.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace tavro_host {

namespace {

constexpr double kPi = 3.14159265358979323846;

// A room-like backdrop: a wall gradient, a window, a shelf with books and a
// fine wall texture, so the background is neither flat nor person-coloured.
void DrawBackground(cv::Mat& img) {
  const int w = img.cols, h = img.rows;
  for (int r = 0; r < h; ++r) {
    cv::Vec3b* row = img.ptr<cv::Vec3b>(r);
    for (int c = 0; c < w; ++c) {
      const int grain = ((c * 7 + r * 13) % 17) - 8;  // fixed wall texture
      const int base = 150 + 40 * r / h;
      row[c] = cv::Vec3b(cv::saturate_cast<uchar>(base + 20 + grain),
                         cv::saturate_cast<uchar>(base + 5 + grain),
                         cv::saturate_cast<uchar>(base - 25 + grain));
    }
  }
  const double s = w / 640.0;
  cv::rectangle(img, cv::Rect(int(40 * s), int(30 * s), int(150 * s), int(120 * s)),
                cv::Scalar(235, 215, 180), cv::FILLED);
  cv::line(img, cv::Point(int(115 * s), int(30 * s)), cv::Point(int(115 * s), int(150 * s)),
           cv::Scalar(90, 90, 90), std::max(1, int(4 * s)));
  const int shelfY = int(250 * s);
  cv::rectangle(img, cv::Rect(int(430 * s), shelfY, int(190 * s), int(10 * s)),
                cv::Scalar(40, 70, 110), cv::FILLED);
  const cv::Scalar books[] = {{60, 40, 160}, {140, 90, 30}, {40, 140, 60},
                              {30, 160, 200}, {120, 40, 100}, {80, 80, 80}};
  for (int i = 0; i < 9; ++i) {
    const int bh = int((45 + (i * 11) % 25) * s);
    cv::rectangle(img, cv::Rect(int((440 + i * 19) * s), shelfY - bh, int(16 * s), bh),
                  books[i % 6], cv::FILLED);
  }
}

void DrawPerson(cv::Mat& img, double cx, double tilt) {
  const double s = img.cols / 640.0;
  const int h = img.rows;
  const cv::Scalar skin(120, 160, 215), hair(30, 35, 50), shirt(140, 75, 40);
  // Shoulders and torso reaching the bottom edge.
  std::vector<cv::Point> torso = {
      {int(cx - 150 * s), h}, {int(cx - 135 * s), int(h - 70 * s)},
      {int(cx - 95 * s), int(h - 105 * s)}, {int(cx - 35 * s), int(h - 120 * s)},
      {int(cx + 35 * s), int(h - 120 * s)}, {int(cx + 95 * s), int(h - 105 * s)},
      {int(cx + 135 * s), int(h - 70 * s)}, {int(cx + 150 * s), h}};
  cv::fillConvexPoly(img, torso, shirt, cv::LINE_AA);
  cv::rectangle(img, cv::Rect(int(cx - 22 * s), int(h - 160 * s), int(44 * s), int(50 * s)),
                skin, cv::FILLED, cv::LINE_AA);  // neck
  const cv::Point head(int(cx + tilt * 6 * s), int(h - 215 * s));
  cv::ellipse(img, head, cv::Size(int(52 * s), int(66 * s)), tilt * 8, 0, 360, skin,
              cv::FILLED, cv::LINE_AA);
  cv::ellipse(img, head + cv::Point(0, int(-22 * s)), cv::Size(int(56 * s), int(48 * s)),
              tilt * 8, 180, 360, hair, cv::FILLED, cv::LINE_AA);
  for (int side : {-1, 1})  // eyes
    cv::circle(img, head + cv::Point(int(side * 19 * s), int(-2 * s)), std::max(1, int(5 * s)),
               cv::Scalar(40, 30, 30), cv::FILLED, cv::LINE_AA);
  cv::ellipse(img, head + cv::Point(0, int(30 * s)), cv::Size(int(16 * s), int(6 * s)), 0, 0,
              180, cv::Scalar(70, 70, 160), std::max(1, int(3 * s)), cv::LINE_AA);
}

const cv::Mat& DemoPhoto() {
  static const cv::Mat photo = cv::imread(kDemoPhotoPath, cv::IMREAD_COLOR);
  return photo;
}

// The camera's view at time t (0..1): the widest window of the frame's
// aspect ratio that fits the photograph, zoomed in by up to 15% and panned
// sideways and a little up and down, scaled to the frame.
cv::Mat RenderPhotoFrame(const cv::Mat& photo, double t, int width, int height) {
  const double pw = photo.cols, ph = photo.rows;
  const double fullW = std::min(pw, ph * width / height);
  const double zoom = 1.0 + 0.15 * (1.0 - std::cos(2 * kPi * t)) / 2.0;
  const double ww = fullW / zoom, wh = ww * height / width;
  const double x0 = (pw - ww) / 2.0 * (1.0 + std::sin(2 * kPi * t));
  const double y0 = std::clamp(0.02 * ph * (1.0 + std::sin(4 * kPi * t)), 0.0, ph - wh);
  // Frame pixel (u, v) shows photograph point (x0 + u * s, y0 + v * s).
  const double s = ww / width;
  const cv::Matx23d toPhoto(s, 0, x0, 0, s, y0);
  cv::Mat frame;
  cv::warpAffine(photo, frame, toPhoto, cv::Size(width, height),
                 cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
  return frame;
}

}  // namespace

const char kDemoPhotoPath[] = "/usr/share/matplotlib/mpl-data/sample_data/grace_hopper.jpg";

bool DemoUsesPhoto() { return !DemoPhoto().empty(); }

cv::Mat RenderDemoFrame(int index, int width, int height) {
  if (DemoUsesPhoto())
    return RenderPhotoFrame(DemoPhoto(), index / double(kDemoFrames), width, height);
  cv::Mat img(height, width, CV_8UC3);
  DrawBackground(img);
  const double t = index / double(kDemoFrames);
  const double cx = width * (0.5 + 0.18 * std::sin(2 * CV_PI * t));
  DrawPerson(img, cx, std::sin(4 * CV_PI * t));
  return img;
}

}  // namespace tavro_host
