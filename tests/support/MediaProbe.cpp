#include "support/MediaProbe.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "support/ShellCommand.h"
#include "support/TempDir.h"

namespace framory::testing {

namespace {

std::uint32_t Le32(const std::string& s, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(s[at + i]);
  return v;
}
std::uint16_t Le16(const std::string& s, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(s[at]) |
                                    (static_cast<std::uint8_t>(s[at + 1]) << 8));
}

}  // namespace

VideoProbe ProbeVideo(const std::string& path) {
  VideoProbe probe;
  const std::string out = CommandOutput(
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
      "stream=codec_name,codec_tag_string,width,height,r_frame_rate,nb_read_frames "
      "-of default=noprint_wrappers=1 " +
      ShellQuote(path) + " 2>/dev/null");
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    if (key == "codec_name") {
      probe.CodecName = value;
      probe.Ok = true;
    } else if (key == "codec_tag_string") {
      probe.CodecTag = value;
    } else if (key == "width") {
      probe.Width = std::stoi(value);
    } else if (key == "height") {
      probe.Height = std::stoi(value);
    } else if (key == "r_frame_rate") {
      probe.FrameRate = value;
    } else if (key == "nb_read_frames" && value != "N/A") {
      probe.FrameCount = std::stoll(value);
    }
  }
  return probe;
}

std::vector<PacketProbe> ProbePackets(const std::string& path) {
  std::vector<PacketProbe> packets;
  const std::string out = CommandOutput(
      "ffprobe -v error -select_streams v:0 -show_entries packet=pts,pts_time,size,flags "
      "-of csv=p=0 " +
      ShellQuote(path) + " 2>/dev/null");
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string pts, ptsTime, size, flags;
    if (!std::getline(fields, pts, ',') || !std::getline(fields, ptsTime, ',') ||
        !std::getline(fields, size, ',') || !std::getline(fields, flags, ',')) {
      continue;
    }
    PacketProbe p;
    try {
      p.Pts = std::stoll(pts);
      p.PtsTime = std::stod(ptsTime);
      p.Size = std::stoll(size);
    } catch (const std::exception&) {
      continue;
    }
    p.Key = flags.find('K') != std::string::npos;
    packets.push_back(p);
  }
  return packets;
}

std::int64_t CountFramesAtConstantRate(const std::string& path) {
  // framecrc prints one line per picture after its '#' header lines.
  const std::string out = CommandOutput("ffmpeg -v error -i " + ShellQuote(path) +
                                        " -map 0:v:0 -fps_mode cfr -f framecrc - 2>/dev/null");
  if (out.empty()) return -1;
  std::int64_t frames = 0;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line[0] != '#') ++frames;
  }
  return frames;
}

std::vector<std::vector<std::uint32_t>> DecodeFrames(const std::string& path, std::int32_t width,
                                                     std::int32_t height) {
  std::vector<std::vector<std::uint32_t>> frames;
  const std::string bytes =
      CommandOutput("ffmpeg -v error -i " + ShellQuote(path) +
                    " -fps_mode passthrough -f rawvideo -pix_fmt bgr0 - 2>/dev/null");
  const std::size_t frameBytes = static_cast<std::size_t>(width) * height * 4;
  if (frameBytes == 0) return frames;
  for (std::size_t at = 0; at + frameBytes <= bytes.size(); at += frameBytes) {
    std::vector<std::uint32_t> pixels(frameBytes / 4);
    std::memcpy(pixels.data(), bytes.data() + at, frameBytes);
    for (std::uint32_t& p : pixels) p &= 0x00FFFFFF;
    frames.push_back(std::move(pixels));
  }
  return frames;
}

std::string DecodeRaw(const std::string& path, const std::string& pixelFormat) {
  return CommandOutput("ffmpeg -v error -i " + ShellQuote(path) +
                       " -fps_mode passthrough -f rawvideo -pix_fmt " + ShellQuote(pixelFormat) +
                       " - 2>/dev/null");
}

std::vector<std::uint32_t> AviIndexChunkSizes(const std::string& path) {
  std::vector<std::uint32_t> sizes;
  const std::string file = ReadWholeFile(path);
  if (file.size() < 12 || file.compare(0, 4, "RIFF") != 0 || file.compare(8, 4, "AVI ") != 0) {
    return sizes;
  }
  // The top-level chunks of the first RIFF list, each padded to an even size.
  const std::size_t riffEnd = std::min<std::size_t>(file.size(), 8 + std::size_t{Le32(file, 4)});
  std::size_t at = 12;
  while (at + 8 <= riffEnd) {
    const std::uint32_t size = Le32(file, at + 4);
    if (file.compare(at, 4, "idx1") == 0) {
      const std::size_t end = std::min<std::size_t>(riffEnd, at + 8 + std::size_t{size});
      for (std::size_t e = at + 8; e + 16 <= end; e += 16) {
        if (file.compare(e, 2, "00") == 0) sizes.push_back(Le32(file, e + 12));
      }
      break;
    }
    at += 8 + std::size_t{size} + (size & 1);
  }
  return sizes;
}

AviHeaderFields ReadAviHeader(const std::string& path) {
  AviHeaderFields fields;
  const std::string file = ReadWholeFile(path);
  const std::string head = file.substr(0, 65536);
  const std::size_t strh = head.find("strh");
  if (strh == std::string::npos || strh + 8 + 56 > head.size()) return fields;
  const std::size_t h = strh + 8;
  fields.Type = head.substr(h, 4);
  fields.Handler = head.substr(h + 4, 4);
  fields.Scale = Le32(head, h + 20);
  fields.Rate = Le32(head, h + 24);
  fields.SuggestedBufferSize = Le32(head, h + 36);
  fields.Quality = static_cast<std::int32_t>(Le32(head, h + 40));
  fields.FrameRight = static_cast<std::int16_t>(Le16(head, h + 52));
  fields.FrameBottom = static_cast<std::int16_t>(Le16(head, h + 54));
  const std::size_t strf = head.find("strf", h);
  if (strf == std::string::npos || strf + 8 + 40 > head.size()) return fields;
  const std::size_t f = strf + 8;
  fields.Width = static_cast<std::int32_t>(Le32(head, f + 4));
  fields.Height = static_cast<std::int32_t>(Le32(head, f + 8));
  fields.BitCount = Le16(head, f + 14);
  fields.Compression = head.substr(f + 16, 4);
  fields.CompressionValue = Le32(head, f + 16);
  fields.SizeImage = Le32(head, f + 20);
  const std::size_t strn = head.find("strn", f);
  if (strn != std::string::npos && strn + 8 < head.size()) {
    const std::uint32_t size = Le32(head, strn + 4);
    fields.Name = head.substr(strn + 8, size);
    fields.Name = fields.Name.substr(0, fields.Name.find('\0'));
  }
  fields.Found = true;
  return fields;
}

ContainerProbe ProbeContainer(const std::string& path) {
  ContainerProbe probe;
  const std::string streams = CommandOutput(
      "ffprobe -v error -show_entries format=format_name:stream=codec_type "
      "-of default=noprint_wrappers=1 " +
      ShellQuote(path) + " 2>/dev/null");
  std::istringstream lines(streams);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("format_name=", 0) == 0) {
      probe.FormatName = line.substr(12);
      probe.Ok = true;
    } else if (line.rfind("codec_type=", 0) == 0) {
      probe.StreamTypes.push_back(line.substr(11));
    }
  }
  // Times in the stream's own time base so that nothing is rounded on the way.
  const std::string packets = CommandOutput(
      "ffprobe -v error -select_streams v:0 -show_entries packet=pts,size:stream=time_base "
      "-of csv=p=0 " +
      ShellQuote(path) + " 2>/dev/null");
  std::istringstream rows(packets);
  long long timeBaseNum = 1, timeBaseDen = 1000;
  while (std::getline(rows, line)) {
    const std::size_t slash = line.find('/');
    if (slash != std::string::npos) {
      timeBaseNum = std::stoll(line.substr(0, slash));
      timeBaseDen = std::stoll(line.substr(slash + 1));
      continue;
    }
    const std::size_t comma = line.find(',');
    if (comma == std::string::npos || line.compare(0, comma, "N/A") == 0) continue;
    probe.PacketTimes.push_back(std::stoll(line.substr(0, comma)));
    probe.PacketSizes.push_back(std::stoll(line.substr(comma + 1)));
  }
  for (std::int64_t& time : probe.PacketTimes) time = time * timeBaseNum * 1000 / timeBaseDen;
  return probe;
}

std::string ProbeStreamField(const std::string& path, const std::string& field) {
  std::string out =
      CommandOutput("ffprobe -v error -select_streams v:0 -show_entries stream=" + field +
                    " -of default=noprint_wrappers=1:nokey=1 " + ShellQuote(path) + " 2>/dev/null");
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

std::vector<std::int64_t> ProbePacketDurations(const std::string& path) {
  std::vector<std::int64_t> durations;
  std::istringstream lines(
      CommandOutput("ffprobe -v error -select_streams v:0 -show_entries "
                    "packet=duration -of csv=p=0 " +
                    ShellQuote(path) + " 2>/dev/null"));
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line != "N/A") durations.push_back(std::stoll(line));
  }
  return durations;
}

std::int64_t VlcFrameCount(const std::string& path) {
  char folder[] = "/tmp/framory-vlc-XXXXXX";
  if (mkdtemp(folder) == nullptr) return -1;
  const std::string dir = folder;
  const std::size_t dot = path.find_last_of('.');
  const std::string copy =
      dir + "/clip" + (dot != std::string::npos ? path.substr(dot) : std::string());
  std::error_code error;
  if (!std::filesystem::copy_file(path, copy, error)) {
    std::filesystem::remove_all(dir, error);
    return -1;
  }
  chmod(folder, 0777);
  chmod(copy.c_str(), 0644);
  const std::string status = CommandOutput(
      "cd '" + dir + "' && setpriv --reuid=65534 --regid=65534 --clear-groups env HOME='" + dir +
      "' timeout 120 cvlc -q --intf dummy --no-audio '" + copy +
      "' --sout '#transcode{vcodec=mp4v}:std{access=file,mux=avi,dst=" + dir +
      "/out.avi}' vlc://quit >/dev/null 2>&1; echo $?");
  const std::string count = CommandOutput(
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
      "-of default=nw=1:nk=1 '" +
      dir + "/out.avi' 2>/dev/null");
  std::filesystem::remove_all(dir, error);
  if (status != "0\n" || count.empty()) return -1;
  return std::atoll(count.c_str());
}

std::string VlcStreamCopy(const std::string& path) {
  char folder[] = "/tmp/framory-vlc-XXXXXX";
  if (mkdtemp(folder) == nullptr) return "-";
  const std::string dir = folder;
  const std::string copy = dir + "/clip.mov";
  std::error_code error;
  if (!std::filesystem::copy_file(path, copy, error)) {
    std::filesystem::remove_all(dir, error);
    return "-";
  }
  chmod(folder, 0777);
  chmod(copy.c_str(), 0644);
  const std::string status = CommandOutput(
      "cd '" + dir + "' && setpriv --reuid=65534 --regid=65534 --clear-groups env HOME='" + dir +
      "' timeout 120 cvlc -q --intf dummy --no-audio '" + copy +
      "' --sout '#std{access=file,mux=raw,dst=" + dir + "/out.raw}' vlc://quit >/dev/null 2>&1; " +
      "echo $?");
  std::string stream;
  if (std::FILE* f = std::fopen((dir + "/out.raw").c_str(), "rb")) {
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
      stream.append(buffer, n);
    std::fclose(f);
  }
  std::filesystem::remove_all(dir, error);
  return status == "0\n" ? stream : "-";
}

}  // namespace framory::testing
