// A stand-in for UDisks2 on a private bus, for the tests of opening devices
// through it. It owns org.freedesktop.UDisks2 and answers the calls the
// engine makes: Manager.ResolveDevice, and Block.OpenDevice with a
// descriptor of a card image standing in for the device.
//
//   fake_udisks ADDRESS [--card NODE=IMAGE]... [--refuse NODE]...
//               [--no-agent NODE]... [--delay-ms N]
//
// --refuse answers NotAuthorized, as polkit does when the user says no;
// --no-agent answers NotAuthorizedCanObtain, as when nobody could be asked,
// and so does a call that does not allow interactive authorization (polkit
// may then not ask). Prints "ready" once the name is owned.
#include <systemd/sd-bus.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kBlockPrefix = "/org/freedesktop/UDisks2/block_devices";

struct Service {
  std::vector<std::pair<std::string, std::string>> cards;  // node, image
  std::set<std::string> refused, noAgent;
  int delayMs = 0;
};

// The "path" entry of an a{sv} of options; "" when there is none.
std::string PathOption(sd_bus_message* m) {
  std::string path;
  if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0) return path;
  while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
    const char* key = nullptr;
    sd_bus_message_read(m, "s", &key);
    const char* value = nullptr;
    if (key != nullptr && std::strcmp(key, "path") == 0 &&
        sd_bus_message_enter_container(m, 'v', "s") > 0) {
      sd_bus_message_read(m, "s", &value);
      if (value != nullptr) path = value;
      sd_bus_message_exit_container(m);
    } else {
      sd_bus_message_skip(m, "v");
    }
    sd_bus_message_exit_container(m);
  }
  sd_bus_message_exit_container(m);
  return path;
}

int OnManager(sd_bus_message* m, void* data, sd_bus_error*) {
  if (!sd_bus_message_is_method_call(m, "org.freedesktop.UDisks2.Manager", "ResolveDevice")) return 0;
  const auto& service = *static_cast<Service*>(data);
  const std::string path = PathOption(m);
  sd_bus_message* reply = nullptr;
  sd_bus_message_new_method_return(m, &reply);
  sd_bus_message_open_container(reply, 'a', "o");
  for (size_t i = 0; i < service.cards.size(); ++i) {
    if (service.cards[i].first != path) continue;
    const std::string object = std::string(kBlockPrefix) + "/card" + std::to_string(i);
    sd_bus_message_append(reply, "o", object.c_str());
  }
  sd_bus_message_close_container(reply);
  const int r = sd_bus_send(nullptr, reply, nullptr);
  sd_bus_message_unref(reply);
  return r < 0 ? r : 1;
}

int OnBlock(sd_bus_message* m, void* data, sd_bus_error*) {
  if (!sd_bus_message_is_method_call(m, "org.freedesktop.UDisks2.Block", "OpenDevice")) return 0;
  const auto& service = *static_cast<Service*>(data);
  const std::string object = sd_bus_message_get_path(m);
  const std::string prefix = std::string(kBlockPrefix) + "/card";
  const size_t index = object.rfind(prefix, 0) == 0 ? std::stoul(object.substr(prefix.size())) : ~size_t{0};
  if (index >= service.cards.size()) return 0;
  const auto& [node, image] = service.cards[index];
  const char* mode = nullptr;
  sd_bus_message_read(m, "s", &mode);
  if (service.delayMs > 0) ::usleep(static_cast<useconds_t>(service.delayMs) * 1000);
  if (service.refused.count(node) != 0)
    return sd_bus_reply_method_errorf(m, "org.freedesktop.UDisks2.Error.NotAuthorized",
                                      "Not authorized to perform operation");
  if (service.noAgent.count(node) != 0 || !sd_bus_message_get_allow_interactive_authorization(m))
    return sd_bus_reply_method_errorf(m, "org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain",
                                      "Not authorized to perform operation");
  const std::string how = mode != nullptr ? mode : "";
  const int flags = how == "r" ? O_RDONLY : how == "w" ? O_WRONLY : how == "rw" ? O_RDWR : -1;
  if (flags < 0)
    return sd_bus_reply_method_errorf(m, "org.freedesktop.UDisks2.Error.Failed", "Unknown mode");
  const int fd = ::open(image.c_str(), flags | O_CLOEXEC);
  if (fd < 0)
    return sd_bus_reply_method_errorf(m, "org.freedesktop.UDisks2.Error.Failed", "Error opening %s: %s",
                                      node.c_str(), std::strerror(errno));
  const int r = sd_bus_reply_method_return(m, "h", fd);
  ::close(fd);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: fake_udisks ADDRESS [--card NODE=IMAGE]... [--refuse NODE]... "
                         "[--no-agent NODE]... [--delay-ms N]\n");
    return 2;
  }
  Service service;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string option = argv[i], value = argv[i + 1];
    if (option == "--card" && value.find('=') != std::string::npos) {
      service.cards.emplace_back(value.substr(0, value.find('=')), value.substr(value.find('=') + 1));
    } else if (option == "--refuse") {
      service.refused.insert(value);
    } else if (option == "--no-agent") {
      service.noAgent.insert(value);
    } else if (option == "--delay-ms") {
      service.delayMs = std::stoi(value);
    }
  }
  sd_bus* bus = nullptr;
  if (sd_bus_new(&bus) < 0 || sd_bus_set_address(bus, argv[1]) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
      sd_bus_negotiate_fds(bus, 1) < 0 || sd_bus_start(bus) < 0) {
    std::fprintf(stderr, "fake_udisks: cannot connect to %s\n", argv[1]);
    return 1;
  }
  sd_bus_add_object(bus, nullptr, "/org/freedesktop/UDisks2/Manager", OnManager, &service);
  sd_bus_add_fallback(bus, nullptr, kBlockPrefix, OnBlock, &service);
  if (sd_bus_request_name(bus, "org.freedesktop.UDisks2", 0) < 0) {
    std::fprintf(stderr, "fake_udisks: cannot own org.freedesktop.UDisks2\n");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  // Until the bus goes away (the test stops it) or the test kills us.
  for (;;) {
    const int r = sd_bus_process(bus, nullptr);
    if (r < 0) break;
    if (r > 0) continue;
    if (sd_bus_wait(bus, UINT64_MAX) < 0) break;
  }
  sd_bus_flush_close_unref(bus);
  return 0;
}
