#pragma once

#include "support/Reports.h"

#include <string>
#include <utility>
#include <vector>

namespace vx {

// The reports for the user (PostReport) that the code under test posts while the object
// lives, gathered as the update loop takes them. Reports left over from before are dropped.
class PostedReports {
 public:
  PostedReports() { TakeReports(); }
  ~PostedReports() { TakeReports(); }
  PostedReports(const PostedReports&) = delete;
  PostedReports& operator=(const PostedReports&) = delete;

  // Every report posted so far, oldest first.
  const std::vector<std::string>& Texts() {
    for (std::string& text : TakeReports()) {
      texts_.push_back(std::move(text));
    }
    return texts_;
  }

 private:
  std::vector<std::string> texts_;
};

}  // namespace vx
