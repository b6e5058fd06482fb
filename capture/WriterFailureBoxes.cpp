#include "capture/WriterFailureBoxes.h"

#include "writers/WriterTexts.h"

namespace framory {

void WriterFailureBoxes::Report(WriterFailure failure, std::int32_t reason) {
  Show(failure, reason, std::string());
}

void WriterFailureBoxes::ReportDetail(WriterFailure failure, const std::string& detail) {
  Show(failure, 0, detail);
}

void WriterFailureBoxes::Show(WriterFailure failure, std::int32_t reason,
                              const std::string& detail) {
  const WriterFailureBox& box = WriterFailureBoxOf(failure);
  if (box.Caption == nullptr) return;
  std::string text = failure == WriterFailure::MergeRefused ? MergeFailureText(reason) : box.Text;
  if (failure == WriterFailure::EncoderMissing) text += EncoderFailureReason(reason);
  if (box.AddsDownloadAddress) text += downloadAddress_ + " ";
  text += detail;
  const std::uint32_t flags = box.Kind == WriterBoxKind::SystemModalError
                                  ? MessageBoxFlags::SystemModal | MessageBoxFlags::IconError
                                  : MessageBoxFlags::IconError;
  boxes_.Show(text, box.Caption, flags);
}

}  // namespace framory
