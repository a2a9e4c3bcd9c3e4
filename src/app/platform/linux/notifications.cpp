#include "app/platform/linux/notifications.h"

#include <gio/gio.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "files/small_files.h"

namespace ventra::app::linux_desktop {
namespace pf = platform;
namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr char kInterface[] = "org.freedesktop.Notifications";
constexpr int kCallTimeoutMs = 5000;
// A Notify answered late is still worth its id, so that the notification can be closed.
constexpr int kNotifyTimeoutMs = 60000;
constexpr std::chrono::milliseconds kBusConnectLimit{2000};
constexpr std::size_t kStateFileLimit = 4096;
// A server answers a question in well under this; one that does not is stopped or stuck.
constexpr int kServerProbeMs = 500;
constexpr char kResetAction[] = "reset";
constexpr char kCancelAction[] = "cancel";

class Center final : public FreedesktopNotificationCenter,
                     public std::enable_shared_from_this<Center> {
 public:
  explicit Center(std::filesystem::path stateFile) : stateFile_(std::move(stateFile)) {}
  ~Center() override;

  pf::NotificationId show(const pf::UserNotification& content, double expirySeconds,
                          std::function<void(pf::UserAnswer)> answered) override;
  void withdraw(std::optional<pf::NotificationId> which) override;
  void settle(std::chrono::milliseconds limit) override;

 private:
  using Answered = std::function<void(pf::UserAnswer)>;
  struct Outstanding {
    Answered answered;
    bool removed = false;  // removed before the server told us its id
  };
  struct Delivered {
    pf::NotificationId key;
    Answered answered;
  };
  struct NotifyCall {
    std::weak_ptr<Center> center;
    std::uint64_t key;
  };
  static void onNotifyReply(GObject* source, GAsyncResult* result, gpointer data);
  void notified(std::uint64_t key, GVariant* reply, GError* error);
  GDBusConnection* bus();
  void subscribe();
  static void onSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                       const gchar* signal, GVariant* parameters, gpointer self);
  void actionInvoked(guint32 id, const std::string& action);
  void closeNotification(guint32 id);
  std::optional<std::string> serverIdentity();
  std::vector<guint32> savedIdsOf(const std::string& server) const;
  void saveIds() const;

  std::filesystem::path stateFile_;
  std::unique_ptr<GDBusConnection, decltype(&g_object_unref)> bus_{nullptr, g_object_unref};
  bool busTried_ = false;
  std::optional<std::string> server_;  // the server this run delivered to
  guint subscription_ = 0;
  void removeAll();
  std::map<guint32, Delivered> delivered_;                 // by the server's id
  std::map<pf::NotificationId, Outstanding> outstanding_;  // Notify calls not yet answered
  pf::NotificationId calls_ = 0;
};

Center::~Center() {
  if (bus_ && subscription_) g_dbus_connection_signal_unsubscribe(bus_.get(), subscription_);
}

namespace {

// A connection on its way. Shared with the callback: one that comes after we stopped waiting
// must find it alive.
struct Connecting {
  GDBusConnection* connection = nullptr;
  GError* error = nullptr;
  bool done = false;
  ~Connecting() {
    if (connection) g_object_unref(connection);
    if (error) g_error_free(error);
  }
};

void connected(GObject*, GAsyncResult* result, gpointer data) {
  auto* state = static_cast<std::shared_ptr<Connecting>*>(data);
  (*state)->connection = g_bus_get_finish(result, &(*state)->error);
  (*state)->done = true;
  delete state;
}

// Iterates `context` until the connection is made or `limit` has passed.
void waitFor(GMainContext* context, const Connecting& state, std::chrono::milliseconds limit) {
  const gint64 deadline = g_get_monotonic_time() + limit.count() * 1000;
  while (!state.done && g_get_monotonic_time() < deadline) {
    g_autoptr(GSource) wake = g_timeout_source_new(10);
    g_source_set_callback(
        wake, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
    g_source_attach(wake, context);
    g_main_context_iteration(context, TRUE);
    g_source_destroy(wake);
  }
}

}  // namespace

// Without a session bus nothing can be shown; the app's own timeout then decides. A bus daemon
// that takes the connection and never answers (a stopped process) would hold a plain
// g_bus_get_sync for good, so the connection is waited for at most kBusConnectLimit.
GDBusConnection* Center::bus() {
  if (busTried_) return bus_.get();
  busTried_ = true;
  g_autoptr(GMainContext) context = g_main_context_new();
  g_main_context_push_thread_default(context);
  g_autoptr(GCancellable) cancel = g_cancellable_new();
  auto state = std::make_shared<Connecting>();
  g_bus_get(G_BUS_TYPE_SESSION, cancel, &connected, new std::shared_ptr<Connecting>(state));
  waitFor(context, *state, kBusConnectLimit);
  if (!state->done) {
    g_cancellable_cancel(cancel);
    waitFor(context, *state, kBusConnectLimit);  // the cancelled call ends promptly
  }
  g_main_context_pop_thread_default(context);
  if (state->connection) bus_.reset(static_cast<GDBusConnection*>(g_object_ref(state->connection)));
  if (!bus_)
    std::cerr
        << "ventra: no session bus for notifications: "
        << (state->error ? state->error->message : "it did not answer in time")
        << "\nventra: without a desktop session (over ssh, at boot), 'ventractl reset' resets "
           "the fans and proves it, and ventra-reset.service runs it at boot (ventractl(1))\n";
  return bus_.get();
}

// Signals go to the caller only, and may come at once: subscribe before the first Notify.
void Center::subscribe() {
  if (subscription_ || !bus()) return;
  subscription_ =
      g_dbus_connection_signal_subscribe(bus_.get(), kService, kInterface, nullptr, kPath, nullptr,
                                         G_DBUS_SIGNAL_FLAGS_NONE, &onSignal, this, nullptr);
}

GVariant* notifyArguments(const pf::UserNotification& n, double expirySeconds) {
  GVariantBuilder actions;
  g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
  g_variant_builder_add(&actions, "s", "default");  // a click on the body
  g_variant_builder_add(&actions, "s", "");
  auto shows = n.values.find("_showsButtons");
  if (n.hasActionButton && shows != n.values.end() && shows->second) {
    for (const char* s :
         {kResetAction, n.otherButtonTitle.c_str(), kCancelAction, n.actionButtonTitle.c_str()})
      g_variant_builder_add(&actions, "s", s);
  }
  GVariantBuilder hints;
  g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
  if (n.soundName == pf::NSUserNotificationDefaultSoundName)
    g_variant_builder_add(&hints, "{sv}", "sound-name",
                          g_variant_new_string("message-new-instant"));
  g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(1));
  // The app owns the timeout and removes the alert itself; the server's expiry only clears an
  // alert we could not remove (a server stalled when it was shown, so its id never came back).
  const auto expiryMs = static_cast<gint32>(std::clamp(expirySeconds * 1000.0, 1.0, 2e9));
  return g_variant_new("(susssasa{sv}i)", "Ventra", 0u, "", n.title.c_str(),
                       n.informativeText.c_str(), &actions, &hints, expiryMs);
}

// The bus daemon's GUID and the server's unique name on it, from a question the server itself
// answers (an error answer counts): no two server processes ever share both. Nothing where no
// server answers within kServerProbeMs.
std::optional<std::string> Center::serverIdentity() {
  if (!bus()) return std::nullopt;
  g_autoptr(GDBusMessage) question =
      g_dbus_message_new_method_call(kService, kPath, kInterface, "GetServerInformation");
  g_autoptr(GDBusMessage) answer = g_dbus_connection_send_message_with_reply_sync(
      bus_.get(), question, G_DBUS_SEND_MESSAGE_FLAGS_NONE, kServerProbeMs, nullptr, nullptr,
      nullptr);
  const gchar* sender = answer ? g_dbus_message_get_sender(answer) : nullptr;
  if (!sender) return std::nullopt;
  return std::string(g_dbus_connection_get_guid(bus_.get())) + " " + sender;
}

pf::NotificationId Center::show(const pf::UserNotification& content, double expirySeconds,
                                std::function<void(pf::UserAnswer)> answered) {
  const pf::NotificationId key = ++calls_;
  subscribe();
  if (!bus()) return key;
  if (!server_) server_ = serverIdentity();
  if (!server_) {
    std::cerr << "ventra: no notification server answered within " << kServerProbeMs
              << " ms: nothing is shown\n";
    return key;
  }
  outstanding_[key] = {std::move(answered)};
  g_dbus_connection_call(bus_.get(), kService, kPath, kInterface, "Notify",
                         notifyArguments(content, expirySeconds), G_VARIANT_TYPE("(u)"),
                         G_DBUS_CALL_FLAGS_NONE, kNotifyTimeoutMs, nullptr, &onNotifyReply,
                         new NotifyCall{weak_from_this(), key});
  return key;
}

void Center::onNotifyReply(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<NotifyCall> call(static_cast<NotifyCall*>(data));
  g_autoptr(GError) error = nullptr;
  g_autoptr(GVariant) reply =
      g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  if (auto center = call->center.lock()) center->notified(call->key, reply, error);
}

// The server's id for a notification: kept, or closed at once if the app removed it meanwhile.
void Center::notified(std::uint64_t key, GVariant* reply, GError* error) {
  auto call = outstanding_.extract(key);
  if (call.empty()) return;
  if (!reply) {
    std::cerr << "ventra: the notification could not be shown: " << error->message << "\n";
    return;
  }
  guint32 id = 0;
  g_variant_get(reply, "(u)", &id);
  if (call.mapped().removed) return closeNotification(id);
  delivered_[id] = {key, std::move(call.mapped().answered)};
  saveIds();
}

void Center::settle(std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!outstanding_.empty() && std::chrono::steady_clock::now() < deadline) {
    if (!g_main_context_iteration(nullptr, FALSE))
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (bus_) g_dbus_connection_flush_sync(bus_.get(), nullptr, nullptr);
}

void Center::onSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                      const gchar* signal, GVariant* parameters, gpointer self) {
  auto* center = static_cast<Center*>(self);
  guint32 id = 0;
  if (g_strcmp0(signal, "ActionInvoked") == 0 &&
      g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
    const gchar* action = nullptr;
    g_variant_get(parameters, "(u&s)", &id, &action);
    center->actionInvoked(id, action);
  } else if (g_strcmp0(signal, "NotificationClosed") == 0 &&
             g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) {
    // Expired or dismissed without a choice: no answer; the app's timeout still decides.
    g_variant_get(parameters, "(uu)", &id, nullptr);
    if (center->delivered_.erase(id)) center->saveIds();
  }
}

// Answered once: the notification is gone with its first action, so a later echo finds nothing.
void Center::actionInvoked(guint32 id, const std::string& action) {
  auto found = delivered_.find(id);
  bool known = action == kResetAction || action == kCancelAction || action == "default";
  if (found == delivered_.end() || !known) return;
  auto answered = std::move(found->second.answered);
  delivered_.erase(found);
  saveIds();
  closeNotification(id);  // some servers leave it on screen after an action
  answered(action == kResetAction    ? pf::UserAnswer::otherButton
           : action == kCancelAction ? pf::UserAnswer::actionButton
                                     : pf::UserAnswer::body);
}

// Servers differ on closing an unknown id; either answer is fine here.
// Sent without waiting for the answer: a slow server must not hold up the launch or the quit.
// settle() flushes what is still queued.
void Center::closeNotification(guint32 id) {
  if (!bus()) return;
  g_dbus_connection_call(bus_.get(), kService, kPath, kInterface, "CloseNotification",
                         g_variant_new("(u)", id), nullptr, G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs,
                         nullptr, nullptr, nullptr);
}

void Center::withdraw(std::optional<pf::NotificationId> which) {
  if (!which) return removeAll();
  if (auto call = outstanding_.find(*which); call != outstanding_.end())
    call->second.removed = true;
  for (auto it = delivered_.begin(); it != delivered_.end(); ++it) {
    if (it->second.key != *which) continue;
    guint32 id = it->first;
    delivered_.erase(it);
    saveIds();
    closeNotification(id);
    return;
  }
}

// What an earlier run left is closed only on the server that showed it.
void Center::removeAll() {
  std::vector<guint32> ids;
  if (!stateFile_.empty() && std::filesystem::exists(std::filesystem::symlink_status(stateFile_))) {
    if (auto server = serverIdentity()) ids = savedIdsOf(*server);
    if (ids.empty()) saveIds();  // a stale record: dropped
  }
  for (const auto& [id, _] : delivered_) ids.push_back(id);
  for (auto& [key, call] : outstanding_) call.removed = true;
  delivered_.clear();
  if (!ids.empty()) {
    for (guint32 id : ids) closeNotification(id);
    saveIds();
  }
}

// The ids recorded for `server`: none where the record names another server or none. Bounded:
// a file that grew by accident (or on purpose) costs a few calls, not thousands.
std::vector<guint32> Center::savedIdsOf(const std::string& server) const {
  std::vector<guint32> ids;
  std::string problem;
  auto text = files::readSmallFile(stateFile_, kStateFileLimit, false, problem);
  if (!problem.empty()) std::cerr << "ventra: ignoring " << problem << "\n";
  std::istringstream in(text.value_or(""));
  std::string recorded;
  if (!std::getline(in, recorded) || recorded != "server " + server) return ids;
  unsigned long id = 0;
  while (ids.size() < kMaxRememberedNotifications && in >> id)
    if (id > 0 && id <= G_MAXUINT32) ids.push_back(static_cast<guint32>(id));
  return ids;
}

void Center::saveIds() const {
  if (stateFile_.empty()) return;
  std::error_code error;
  if (delivered_.empty()) {
    std::filesystem::remove(stateFile_, error);  // removes a link itself, never its target
    return;
  }
  std::string text = "server " + server_.value_or("") + "\n";
  for (const auto& [id, _] : delivered_) text += std::to_string(id) + "\n";
  if (files::replaceFile(stateFile_, text) != 0)
    std::cerr << "ventra: could not record the notification in " << stateFile_ << "\n";
}

}  // namespace

std::shared_ptr<FreedesktopNotificationCenter> freedesktopNotificationCenter(
    std::filesystem::path stateFile) {
  return std::make_shared<Center>(std::move(stateFile));
}

}  // namespace ventra::app::linux_desktop
