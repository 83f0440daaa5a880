#pragma once

#include "platform/LocalSocket.h"
#include "platform/UniqueFd.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;

namespace vx {

// How the desktop program reaches the service (vorlixad) of the same user while the
// service drives the ports: a named local socket of the user's, on which a connection
// sends one request line and gets one answer line.
//   "settings"  the settings file that the service runs on
//   "reload"    the service reloads that file, then answers "reloaded"

// The service's end. Requests are read and answered on the owning thread, without
// blocking it: a client that sends nothing only holds a descriptor until the next one
// replaces it.
class ServiceChannel final : public QObject {
  Q_OBJECT

 public:
  // reload runs on the owning thread for each "reload" request, before the answer.
  ServiceChannel(std::string settingsFile, std::function<void()> reload);
  ~ServiceChannel() override;
  ServiceChannel(const ServiceChannel&) = delete;
  ServiceChannel& operator=(const ServiceChannel&) = delete;

  // Takes the channel's name for this user; 0 or the system's error number.
  int Listen();

 private:
  struct Client {
    UniqueFd Connection;
    std::string Request;
    std::unique_ptr<QSocketNotifier> Notifier;
  };

  void Accept();
  void Read(int fd);
  std::string Answer(const std::string& request);

  std::string settingsFile_;
  std::function<void()> reload_;
  LocalListener listener_;
  std::unique_ptr<QSocketNotifier> acceptor_;
  std::vector<std::unique_ptr<Client>> clients_;
};

// The desktop program's end: sends request and waits up to limitMs for the answer, given
// without its line end. 0; ENOENT or ECONNREFUSED when no service runs; ETIMEDOUT when it
// did not answer in time; EPROTO for an answer that is no line; or the system's error
// number.
int AskService(const std::string& request, std::string& answer, int limitMs);

}  // namespace vx
