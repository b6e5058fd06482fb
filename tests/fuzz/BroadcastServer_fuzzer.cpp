// Drives the broadcast server without its thread over socketpairs: the input
// is a script of client actions (connect from one of three addresses, send
// bytes, shut the sending side, close, read) and encoder output (header,
// packets of arbitrary bytes), with one round of the server loop after each.
// Any crash, sanitizer report, leak or hang is a fault; so is an answer that
// does not begin with an HTTP/1.0 status line, or a connection held that no
// client made.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/encoder/BroadcastServer.h"

namespace {

constexpr std::size_t kMaxClients = 64;

struct Client {
  int fd = -1;
  std::string received;
};

struct Script {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;
  bool More() const { return at < size; }
  std::uint8_t Byte() { return at < size ? data[at++] : 0; }
  std::string Bytes(std::size_t count) {
    count = std::min(count, size - at);
    std::string text(reinterpret_cast<const char*>(data + at), count);
    at += count;
    return text;
  }
};

void Read(Client& client) {
  char buffer[65536];
  ssize_t got;
  while ((got = recv(client.fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
    // Only the start matters; the stream after it may be long.
    if (client.received.size() < 64) client.received.append(buffer, static_cast<std::size_t>(got));
  }
  if (!client.received.empty() &&
      client.received.compare(0, std::min<std::size_t>(9, client.received.size()), "HTTP/1.0 ", 0,
                              std::min<std::size_t>(9, client.received.size())) != 0)
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Script script{data, size};
  std::vector<Client> clients;
  {
    framory::BroadcastServer server;
    server.SetVideoStreamNumber(script.Byte() % 3);
    static const char* const kPeers[] = {"a", "b", "c"};
    while (script.More()) {
      const std::uint8_t op = script.Byte();
      Client* client = clients.empty() ? nullptr : &clients[script.Byte() % clients.size()];
      switch (op % 9) {
        case 0:
        case 1: {
          int pair[2];
          if (clients.size() >= kMaxClients ||
              socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
            break;
          clients.push_back({pair[0], {}});
          server.AdoptConnection(pair[1], kPeers[op % 3]);
          break;
        }
        case 2: {
          if (client == nullptr || client->fd < 0) break;
          // Often a plausible request, else whatever the script holds.
          std::string text = script.Byte() % 2 ? std::string("GET / HTTP/1.0\r\n") : std::string();
          text += script.Bytes(script.Byte());
          send(client->fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
          break;
        }
        case 3:
          if (client != nullptr && client->fd >= 0) shutdown(client->fd, SHUT_WR);
          break;
        case 4:
          if (client != nullptr && client->fd >= 0) {
            close(client->fd);
            client->fd = -1;
          }
          break;
        case 5:
          if (client != nullptr && client->fd >= 0) Read(*client);
          break;
        case 6: {
          const std::string header = script.Bytes(script.Byte());
          server.OnHeader(reinterpret_cast<const std::uint8_t*>(header.data()), header.size());
          break;
        }
        case 7: {
          std::string packet = script.Bytes(script.Byte());
          // Packets are big; repeat the bytes to a whole one now and then.
          if (script.Byte() % 4 == 0 && !packet.empty())
            while (packet.size() < 8000) packet += packet;
          server.OnPacket(reinterpret_cast<const std::uint8_t*>(packet.data()), packet.size());
          break;
        }
        default:
          break;
      }
      server.ServeOnce(0);
      for (Client& each : clients)
        if (each.fd >= 0) Read(each);
      // Every client is one connection at most.
      if (server.ConnectionCount() > clients.size()) __builtin_trap();
    }
  }
  for (Client& client : clients)
    if (client.fd >= 0) close(client.fd);
  return 0;
}
