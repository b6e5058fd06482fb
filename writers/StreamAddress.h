// The address of a streaming server the recorder pushes its broadcast to,
// and the secret it holds. Two kinds are taken:
//
//   rtmp://host[:port]/app/key   (rtmps:// too) H.264 + AAC in FLV, the
//                                ingest nginx's RTMP module and every
//                                streaming service accept
//   srt://host:port?streamid=... MPEG-TS over SRT
//
// The stream key (the last part of an RTMP path, the streamid and passphrase
// of an SRT address, a user and password before the host) lets anyone who
// reads it broadcast in the user's name. Everything a person or a log can
// see (titles, tips, boxes, FFmpeg's messages) shows the masked form
// rtmp://host/app/•••• instead; only the settings store keeps the address,
// and only while the user asked it to be remembered.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace framory {

enum class StreamProtocol : std::int32_t { Rtmp, Srt };

struct StreamAddress {
  StreamProtocol Protocol = StreamProtocol::Rtmp;
  // "rtmp", "rtmps" or "srt".
  std::string Scheme;
  // As written, an IPv6 address in its brackets.
  std::string Host;
  // 0 when the address names none (the scheme's usual port is used).
  std::int32_t Port = 0;
  // RTMP: the path between the host and the key (may hold several parts).
  std::string App;
  // The address in full, as FFmpeg opens it.
  std::string Url;
  // Every secret the address holds, longest first.
  std::vector<std::string> Secrets;
};

// The mask shown in place of a secret.
inline constexpr const char* kStreamKeyMask = "\u2022\u2022\u2022\u2022";

// The address `text` names; none, with the reason in `problem`, when it is
// not one of the two kinds or lacks a part (host, port of SRT, app, key).
std::optional<StreamAddress> ParseStreamAddress(std::string_view text, std::string* problem);

// rtmp://host[:port]/app/•••• or srt://host:port?streamid=••••: what may be
// shown of `address`.
std::string MaskedStreamAddress(const StreamAddress& address);
// The masked form of `text` if it parses; otherwise `text` with everything
// after its host cut off, so that a mistyped address leaks no key either.
std::string MaskedStreamAddress(std::string_view text);

// `text` with every secret of `address` replaced by the mask.
std::string MaskStreamSecrets(std::string text, const StreamAddress& address);

}  // namespace framory
