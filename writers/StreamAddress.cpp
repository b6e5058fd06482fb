#include "writers/StreamAddress.h"

#include <algorithm>
#include <charconv>

namespace framory {

namespace {

bool HasSpaceOrControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7f; });
}

// "host[:port]" with an IPv6 host in brackets; false when the host is empty
// or the port is not a number from 1 to 65535.
bool SplitHostPort(std::string_view authority, std::string* host, std::int32_t* port) {
  std::string_view portText;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos || close < 2) return false;
    *host = std::string(authority.substr(0, close + 1));
    const std::string_view rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      portText = rest.substr(1);
      if (portText.empty()) return false;
    }
  } else {
    const std::size_t colon = authority.find(':');
    *host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) {
      portText = authority.substr(colon + 1);
      if (portText.empty()) return false;
    }
  }
  if (host->empty()) return false;
  *port = 0;
  if (!portText.empty()) {
    std::int32_t value = 0;
    const auto [end, error] =
        std::from_chars(portText.data(), portText.data() + portText.size(), value);
    if (error != std::errc() || end != portText.data() + portText.size() || value < 1 ||
        value > 65535) {
      return false;
    }
    *port = value;
  }
  return true;
}

void AddSecret(StreamAddress& address, std::string_view secret) {
  if (!secret.empty()) address.Secrets.emplace_back(secret);
}

// The value of `name` in a query "a=1&b=2"; empty when absent.
std::string_view QueryValue(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    const std::size_t equals = pair.find('=');
    if (equals != std::string_view::npos && pair.substr(0, equals) == name)
      return pair.substr(equals + 1);
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return {};
}

std::string HostAndPort(const StreamAddress& address) {
  std::string text = address.Host;
  if (address.Port != 0) text += ":" + std::to_string(address.Port);
  return text;
}

}  // namespace

std::optional<StreamAddress> ParseStreamAddress(std::string_view text, std::string* problem) {
  auto fail = [problem](const char* why) -> std::optional<StreamAddress> {
    if (problem != nullptr) *problem = why;
    return std::nullopt;
  };
  if (text.empty()) return fail("No address was given.");
  if (HasSpaceOrControl(text)) return fail("The address holds a space.");
  const std::size_t schemeEnd = text.find("://");
  if (schemeEnd == std::string_view::npos)
    return fail("The address does not start with rtmp:// or srt://.");
  std::string scheme(text.substr(0, schemeEnd));
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  StreamAddress address;
  address.Scheme = scheme;
  address.Url = std::string(text);
  if (scheme == "rtmp" || scheme == "rtmps") {
    address.Protocol = StreamProtocol::Rtmp;
  } else if (scheme == "srt") {
    address.Protocol = StreamProtocol::Srt;
  } else {
    return fail("The address does not start with rtmp:// or srt://.");
  }

  std::string_view rest = text.substr(schemeEnd + 3);
  const std::size_t authorityEnd = rest.find_first_of("/?");
  std::string_view authority = rest.substr(0, authorityEnd);
  rest = authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);
  // A user and password before the host are as secret as the key.
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    const std::string_view user = authority.substr(0, at);
    const std::size_t colon = user.find(':');
    AddSecret(address, user.substr(0, colon));
    if (colon != std::string_view::npos) AddSecret(address, user.substr(colon + 1));
    authority.remove_prefix(at + 1);
  }
  if (!SplitHostPort(authority, &address.Host, &address.Port))
    return fail("The address names no server, or its port is not a number from 1 to 65535.");

  if (address.Protocol == StreamProtocol::Rtmp) {
    // "/app/key": the key is the last part of the path, the app what lies
    // between (a service may use "app/instance").
    if (rest.size() < 2 || rest.front() != '/') return fail("The address has no app and key.");
    const std::string_view path = rest.substr(1);
    const std::size_t lastSlash = path.rfind('/');
    if (lastSlash == std::string_view::npos || lastSlash == 0)
      return fail("The address has no stream key after the app: rtmp://host/app/key.");
    address.App = std::string(path.substr(0, lastSlash));
    const std::string_view key = path.substr(lastSlash + 1);
    if (key.empty())
      return fail("The address has no stream key after the app: rtmp://host/app/key.");
    AddSecret(address, key);
  } else {
    if (address.Port == 0) return fail("An SRT address needs its port: srt://host:port.");
    const std::size_t question = rest.find('?');
    const std::string_view query =
        question == std::string_view::npos ? std::string_view() : rest.substr(question + 1);
    AddSecret(address, QueryValue(query, "streamid"));
    AddSecret(address, QueryValue(query, "passphrase"));
  }
  std::sort(address.Secrets.begin(), address.Secrets.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  return address;
}

std::string MaskedStreamAddress(const StreamAddress& address) {
  std::string text = address.Scheme + "://" + HostAndPort(address);
  if (address.Protocol == StreamProtocol::Rtmp)
    return text + "/" + address.App + "/" + kStreamKeyMask;
  return text + "?streamid=" + kStreamKeyMask;
}

std::string MaskedStreamAddress(std::string_view text) {
  if (const std::optional<StreamAddress> address = ParseStreamAddress(text, nullptr))
    return MaskedStreamAddress(*address);
  // Not an address: only what lies before the path (minus any user) is shown.
  std::size_t start = text.find("://");
  start = start == std::string_view::npos ? 0 : start + 3;
  std::size_t end = text.find_first_of("/?", start);
  std::string_view shown = text.substr(0, end);
  std::string masked;
  if (const std::size_t at = shown.rfind('@'); at != std::string_view::npos && at >= start) {
    masked = std::string(shown.substr(0, start)) + std::string(shown.substr(at + 1));
  } else {
    masked = std::string(shown);
  }
  if (end != std::string_view::npos) masked += std::string("/") + kStreamKeyMask;
  return masked;
}

std::string MaskStreamSecrets(std::string text, const StreamAddress& address) {
  for (const std::string& secret : address.Secrets) {
    for (std::size_t at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at + std::char_traits<char>::length(kStreamKeyMask))) {
      text.replace(at, secret.size(), kStreamKeyMask);
    }
  }
  return text;
}

}  // namespace framory
