// The boxes of the writers' failures: every failure a writer reports
// becomes, at once, the box with its caption, text and icon from the
// writers' table of texts. The writers never show a box themselves; the
// program hands one of these to the writer factory.
#pragma once

#include <cstdint>
#include <string>

#include "base/MessageBoxService.h"
#include "writers/WriterReports.h"

namespace framory {

class WriterFailureBoxes : public WriterReports {
 public:
  // `downloadAddress`: where the Windows Media boxes send the user.
  explicit WriterFailureBoxes(MessageBoxService& boxes, std::string downloadAddress = "")
      : boxes_(boxes), downloadAddress_(std::move(downloadAddress)) {}

  void SetDownloadAddress(std::string address) { downloadAddress_ = std::move(address); }
  void Report(WriterFailure failure, std::int32_t reason = 0) override;
  void ReportDetail(WriterFailure failure, const std::string& detail) override;

 private:
  void Show(WriterFailure failure, std::int32_t reason, const std::string& detail);

  MessageBoxService& boxes_;
  std::string downloadAddress_;
};

}  // namespace framory
