#include "platform/media/MediaLog.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

#include "writers/StreamAddress.h"

namespace framory {

namespace {

std::mutex secretsMutex;
std::vector<std::string> secrets;  // longest first
thread_local MediaLogCapture* capture = nullptr;

std::string Masked(std::string text) {
  const std::lock_guard lock(secretsMutex);
  for (const std::string& secret : secrets) {
    for (std::size_t at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at + std::char_traits<char>::length(kStreamKeyMask))) {
      text.replace(at, secret.size(), kStreamKeyMask);
    }
  }
  return text;
}

void MaskingCallback(void* context, int level, const char* format, va_list args) {
  const bool print = level <= av_log_get_level();
  const bool keep = capture != nullptr && level <= AV_LOG_WARNING;
  if (!print && !keep) return;
  // A message may come in pieces; the prefix ("[tcp @ 0x...]") is printed
  // at the start of a line only.
  thread_local int printPrefix = 1;
  char line[2048];
  av_log_format_line2(context, level, format, args, line, sizeof line, &printPrefix);
  const std::string text = Masked(line);
  if (keep) capture->Add(text);
  if (print) std::fputs(text.c_str(), stderr);
}

}  // namespace

void MediaLogCapture::Add(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (!line.empty()) lines_.push_back(std::move(line));
}

void InstallMediaLogMask() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_callback(&MaskingCallback); });
}

void QuietMediaLog() {
  InstallMediaLogMask();
  if (std::getenv("FRAMORY_MEDIA_LOG") != nullptr) return;
  av_log_set_level(AV_LOG_ERROR);
}

void AddMediaLogSecrets(const std::vector<std::string>& added) {
  const std::lock_guard lock(secretsMutex);
  for (const std::string& secret : added) {
    if (!secret.empty()) secrets.push_back(secret);
  }
  std::stable_sort(secrets.begin(), secrets.end(),
                   [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
}

void RemoveMediaLogSecrets(const std::vector<std::string>& removed) {
  const std::lock_guard lock(secretsMutex);
  for (const std::string& secret : removed) {
    const auto it = std::find(secrets.begin(), secrets.end(), secret);
    if (it != secrets.end()) secrets.erase(it);
  }
}

MediaLogCapture::MediaLogCapture() : outer_(capture) { capture = this; }

MediaLogCapture::~MediaLogCapture() { capture = outer_; }

}  // namespace framory
