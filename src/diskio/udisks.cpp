#include "diskio/udisks.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include "util/helpers.h"

namespace kestrella {

namespace {

constexpr const char* kService = "org.freedesktop.UDisks2";
constexpr const char* kManagerPath = "/org/freedesktop/UDisks2/Manager";
constexpr const char* kManager = "org.freedesktop.UDisks2.Manager";
constexpr const char* kBlock = "org.freedesktop.UDisks2.Block";
// Looking a device up asks nobody: a service that takes longer is as good
// as none for the drive list.
constexpr uint64_t kLookupMicros = 3'000'000;
// How long one wait for the bus lasts before `whileWaiting` runs again.
constexpr uint64_t kWaitSliceMicros = 40'000;

// Frees what sd-bus handed out when the scope ends.
struct MessageRef {
  sd_bus_message* m = nullptr;
  ~MessageRef() { sd_bus_message_unref(m); }
};
struct ErrorRef {
  sd_bus_error e = SD_BUS_ERROR_NULL;
  ~ErrorRef() { sd_bus_error_free(&e); }
};

bool Named(const sd_bus_error& e, const char* name) { return sd_bus_error_has_name(&e, name) != 0; }

bool NoService(const sd_bus_error& e) {
  return Named(e, "org.freedesktop.DBus.Error.ServiceUnknown") ||
         Named(e, "org.freedesktop.DBus.Error.NameHasNoOwner") ||
         (e.name != nullptr && std::strncmp(e.name, "org.freedesktop.DBus.Error.Spawn.", 33) == 0);
}

bool NoSuchMethod(const sd_bus_error& e) {
  return Named(e, "org.freedesktop.DBus.Error.UnknownMethod");
}

// How a D-Bus error reply to an open reads as an answer.
BrokerResult FromError(const sd_bus_error& e) {
  BrokerResult r;
  if (NoService(e)) {
    r.answer = BrokerAnswer::NotRunning;
  } else if (Named(e, "org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain")) {
    // polkit would have asked, but no agent is registered for this program
    // or its session: it says so at once instead of waiting.
    r.answer = BrokerAnswer::NoAgent;
  } else if (Named(e, "org.freedesktop.UDisks2.Error.NotAuthorized") ||
             Named(e, "org.freedesktop.UDisks2.Error.NotAuthorizedDismissed") ||
             Named(e, "org.freedesktop.DBus.Error.AccessDenied")) {
    r.answer = BrokerAnswer::Refused;
  } else if (Named(e, "org.freedesktop.DBus.Error.NoReply") ||
             Named(e, "org.freedesktop.DBus.Error.Timeout")) {
    r.answer = BrokerAnswer::NoAnswer;
  } else if (Named(e, "org.freedesktop.DBus.Error.UnknownObject") ||
             Named(e, "org.freedesktop.DBus.Error.UnknownInterface")) {
    r.answer = BrokerAnswer::Unknown;
  } else {
    r.answer = BrokerAnswer::Failed;
    r.detail = e.message != nullptr ? e.message : (e.name != nullptr ? e.name : "");
  }
  return r;
}

// One method call that may wait for the user: sent at once, its reply
// taken in slices of kWaitSliceMicros with `whileWaiting` run between them.
struct PendingCall {
  bool done = false;
  sd_bus_message* reply = nullptr;

  static int OnReply(sd_bus_message* m, void* self, sd_bus_error*) {
    auto* call = static_cast<PendingCall*>(self);
    call->reply = sd_bus_message_ref(m);
    call->done = true;
    return 0;
  }
};

}  // namespace

bool AskBrokerAfter(int err, bool blockDevice, bool asRoot) {
  return blockDevice && !asRoot && (err == EACCES || err == EPERM);
}

UDisksClient::~UDisksClient() { sd_bus_flush_close_unref(bus_); }

sd_bus* UDisksClient::Bus() {
  if (bus_ == nullptr && sd_bus_open_system(&bus_) < 0) bus_ = nullptr;
  return bus_;
}

std::string UDisksClient::BlockObject(const std::string& path, BrokerAnswer& answer,
                                      std::string& detail) {
  sd_bus* bus = Bus();
  if (bus == nullptr) {
    answer = BrokerAnswer::NotRunning;
    return "";
  }
  MessageRef call, reply;
  ErrorRef error;
  if (sd_bus_message_new_method_call(bus, &call.m, kService, kManagerPath, kManager, "ResolveDevice") < 0 ||
      sd_bus_message_append(call.m, "a{sv}a{sv}", 1, "path", "s", path.c_str(), 0) < 0) {
    answer = BrokerAnswer::Failed;
    return "";
  }
  if (sd_bus_call(bus, call.m, kLookupMicros, &error.e, &reply.m) < 0) {
    const BrokerResult r = FromError(error.e);
    answer = r.answer;
    detail = r.detail;
    // A lost connection is tried anew next time.
    if (!sd_bus_is_open(bus)) bus_ = sd_bus_flush_close_unref(bus_);
    return "";
  }
  const char* object = nullptr;
  if (sd_bus_message_enter_container(reply.m, 'a', "o") < 0 ||
      sd_bus_message_read(reply.m, "o", &object) <= 0 || object == nullptr) {
    answer = BrokerAnswer::Unknown;
    return "";
  }
  return object;
}

bool UDisksClient::Knows(const std::string& path) {
  BrokerAnswer answer = BrokerAnswer::Opened;
  std::string detail;
  return !BlockObject(path, answer, detail).empty();
}

BrokerResult UDisksClient::Open(const std::string& path, bool forWrite, bool sync,
                                const std::function<void()>& whileWaiting, unsigned timeoutSeconds) {
  BrokerResult result;
  const std::string object = BlockObject(path, result.answer, result.detail);
  if (object.empty()) return result;
  sd_bus* bus = bus_;

  // OpenDevice gives the same open as the engine's own (read-only and
  // shared, or exclusive for writing); services older than it have only
  // OpenForBackup and OpenForRestore, which open exclusively.
  for (const bool openDevice : {true, false}) {
    MessageRef call;
    const char* method = openDevice ? "OpenDevice" : forWrite ? "OpenForRestore" : "OpenForBackup";
    if (sd_bus_message_new_method_call(bus, &call.m, kService, object.c_str(), kBlock, method) < 0)
      break;
    int r = 0;
    if (!openDevice) {
      r = sd_bus_message_append(call.m, "a{sv}", 0);
    } else if (forWrite) {
      const int flags = O_EXCL | (sync ? O_SYNC : 0);
      r = sd_bus_message_append(call.m, "sa{sv}", "rw", 1, "flags", "i", flags);
    } else {
      r = sd_bus_message_append(call.m, "sa{sv}", "r", 0);
    }
    // polkit may ask the user only when the caller says it waits for that.
    if (r < 0 || sd_bus_message_set_allow_interactive_authorization(call.m, 1) < 0) break;

    PendingCall pending;
    sd_bus_slot* slot = nullptr;
    if (sd_bus_call_async(bus, &slot, call.m, &PendingCall::OnReply, &pending,
                          static_cast<uint64_t>(timeoutSeconds) * 1'000'000) < 0)
      break;
    // The call's own timeout ends the wait: sd-bus answers it with an
    // error reply when it passes.
    while (!pending.done) {
      r = sd_bus_process(bus, nullptr);
      if (r < 0) break;
      if (r > 0) continue;
      if (sd_bus_wait(bus, kWaitSliceMicros) < 0) break;
      if (whileWaiting) whileWaiting();
    }
    sd_bus_slot_unref(slot);
    MessageRef reply{pending.reply};
    if (!pending.done || reply.m == nullptr) {
      bus_ = sd_bus_flush_close_unref(bus_);
      result.answer = BrokerAnswer::NotRunning;
      return result;
    }
    if (sd_bus_message_is_method_error(reply.m, nullptr)) {
      const sd_bus_error* e = sd_bus_message_get_error(reply.m);
      if (openDevice && NoSuchMethod(*e)) continue;
      return FromError(*e);
    }
    int fd = -1;
    if (sd_bus_message_read(reply.m, "h", &fd) <= 0 || fd < 0) break;
    // The descriptor belongs to the message; ours is a copy.
    result.fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (result.fd < 0) {
      result.answer = BrokerAnswer::Failed;
      result.detail = std::strerror(errno);
      return result;
    }
    result.answer = BrokerAnswer::Opened;
    return result;
  }
  result.answer = BrokerAnswer::Failed;
  result.detail = "the service's answer could not be read";
  return result;
}

std::string BrokerProblem(const std::string& path, bool forWrite, const BrokerResult& result) {
  const std::string verb = forWrite ? "write to " : "read ";
  switch (result.answer) {
    case BrokerAnswer::Opened:
    case BrokerAnswer::Unknown: return "";
    case BrokerAnswer::Refused: return "Permission to " + verb + path + " was refused.";
    case BrokerAnswer::NoAgent:
      return "Nobody could be asked for permission to " + verb + path +
             ": no polkit agent is running for this program. Run it from a terminal with "
             "pkttyagent installed (kestrella-cli starts it to ask you), or as root.";
    case BrokerAnswer::NotRunning: {
      const std::string group = OwningGroupOf(path);
      return "UDisks2 is not running, and " + path + " can only be opened as root" +
             (group.empty() || group == "root" ? std::string(".")
                                               : " or by members of the " + group + " group.");
    }
    case BrokerAnswer::NoAnswer:
      return "The request for permission to " + verb + path + " was not answered in time.";
    case BrokerAnswer::Failed: break;
  }
  return "UDisks2 could not open " + path + (result.detail.empty() ? "" : ": " + result.detail);
}

}  // namespace kestrella
