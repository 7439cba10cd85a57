// A one-line progress bar on stderr for inputs of known length.
#pragma once

namespace tavro_host {

class ProgressBar {
 public:
  explicit ProgressBar(int total) : total_(total) {}
  // Redraws when the shown fraction changes.
  void update(int done);
  // Ends the line.
  void finish();

 private:
  int total_;
  int shown_ = -1;
  bool drawn_ = false;
};

}  // namespace tavro_host
