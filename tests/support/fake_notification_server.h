#pragma once

// A freedesktop notification server in its own thread and main context, on a private session bus
// (GTestDBus), as a real one is its own process: it records what it is asked, answers Notify
// (at once or late), sends ActionInvoked as a user's click would, and can stall like a stopped
// process.

#include <gio/gio.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace ventra::test {

inline constexpr char kIntrospection[] = R"(<node><interface name="org.freedesktop.Notifications">
  <method name="Notify"><arg type="s" direction="in"/><arg type="u" direction="in"/>
    <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="s" direction="in"/>
    <arg type="as" direction="in"/><arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
    <arg type="u" direction="out"/></method>
  <method name="CloseNotification"><arg type="u" direction="in"/></method>
  <method name="GetServerInformation"><arg type="s" direction="out"/>
    <arg type="s" direction="out"/><arg type="s" direction="out"/>
    <arg type="s" direction="out"/></method>
</interface></node>)";

class FakeNotificationServer {
 public:
  struct Notify {
    std::string summary, body, sound;
    std::vector<std::string> actions;
    int expire = -1;
  };

  explicit FakeNotificationServer(const std::string& address,
                                  std::chrono::milliseconds notifyDelay = {})
      : notifyDelay_(notifyDelay) {
    thread_ = std::thread([this, address] { serve(address); });
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return named_; });
  }
  ~FakeNotificationServer() {
    resume();
    g_main_context_invoke(
        context_,
        [](gpointer loop) {
          g_main_loop_quit(static_cast<GMainLoop*>(loop));
          return G_SOURCE_REMOVE;
        },
        loop_);
    thread_.join();
  }

  // Sends ActionInvoked to the last caller, as servers do.
  void invokeAction(guint32 id, std::string action) {
    auto* job =
        new std::tuple<FakeNotificationServer*, guint32, std::string>(this, id, std::move(action));
    g_main_context_invoke(
        context_,
        [](gpointer data) {
          std::unique_ptr<std::tuple<FakeNotificationServer*, guint32, std::string>> j(
              static_cast<std::tuple<FakeNotificationServer*, guint32, std::string>*>(data));
          auto* self = std::get<0>(*j);
          g_dbus_connection_emit_signal(
              self->connection_, self->caller_.c_str(), "/org/freedesktop/Notifications",
              "org.freedesktop.Notifications", "ActionInvoked",
              g_variant_new("(us)", std::get<1>(*j), std::get<2>(*j).c_str()), nullptr);
          return G_SOURCE_REMOVE;
        },
        job);
  }

  // From now on, every notification shown is answered with `action` `after` it is shown, as a
  // user would (whether it is still on screen or not: the app must tell).
  void answerEach(std::string action, std::chrono::milliseconds after) {
    std::lock_guard l(mutex_);
    answer_ = std::move(action);
    answerAfter_ = after;
  }

  std::vector<Notify> notified() {
    std::lock_guard l(mutex_);
    return notified_;
  }
  std::vector<guint32> closed() {
    std::lock_guard l(mutex_);
    return closed_;
  }
  // As a stopped process: calls wait unanswered, unseen, until resume() (then they run).
  void stall() {
    g_main_context_invoke(
        context_,
        [](gpointer self) {
          auto* server = static_cast<FakeNotificationServer*>(self);
          std::unique_lock lock(server->mutex_);
          server->stalled_ = true;
          server->resumed_.wait(lock, [server] { return !server->stalled_; });
          return G_SOURCE_REMOVE;
        },
        this);
  }
  void resume() {
    {
      std::lock_guard lock(mutex_);
      stalled_ = false;
    }
    resumed_.notify_all();
  }

 private:
  void serve(const std::string& address) {
    context_ = g_main_context_new();
    g_main_context_push_thread_default(context_);
    loop_ = g_main_loop_new(context_, FALSE);
    connection_ = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    static const GDBusInterfaceVTable vtable{&FakeNotificationServer::onCall, nullptr, nullptr, {}};
    g_dbus_connection_register_object(connection_, "/org/freedesktop/Notifications",
                                      node->interfaces[0], &vtable, this, nullptr, nullptr);
    GVariant* reply = g_dbus_connection_call_sync(
        connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", "org.freedesktop.Notifications", 4u), nullptr,
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    if (reply) g_variant_unref(reply);
    {
      std::lock_guard lock(mutex_);
      named_ = true;
    }
    ready_.notify_all();
    g_main_loop_run(loop_);
    g_dbus_node_info_unref(node);
    g_dbus_connection_close_sync(connection_, nullptr, nullptr);
    g_object_unref(connection_);
    g_main_loop_unref(loop_);
    g_main_context_pop_thread_default(context_);
    g_main_context_unref(context_);
  }

  static void onCall(GDBusConnection*, const gchar* sender, const gchar*, const gchar*,
                     const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                     gpointer data) {
    auto* self = static_cast<FakeNotificationServer*>(data);
    std::lock_guard lock(self->mutex_);
    self->caller_ = sender;
    if (g_strcmp0(method, "GetServerInformation") == 0)
      return g_dbus_method_invocation_return_value(
          invocation, g_variant_new("(ssss)", "fake", "ventra", "1", "1.2"));
    if (g_strcmp0(method, "CloseNotification") == 0) {
      guint32 id = 0;
      g_variant_get(parameters, "(u)", &id);
      self->closed_.push_back(id);
      g_dbus_method_invocation_return_value(invocation, nullptr);
      return;
    }
    Notify notify;
    const gchar *summary, *body;
    GVariantIter* actions;
    GVariant* hints;
    g_variant_get(parameters, "(&su&s&s&sas@a{sv}i)", nullptr, nullptr, nullptr, &summary, &body,
                  &actions, &hints, &notify.expire);
    notify.summary = summary;
    notify.body = body;
    const gchar* action;
    while (g_variant_iter_next(actions, "&s", &action)) notify.actions.push_back(action);
    g_variant_iter_free(actions);
    const gchar* sound = nullptr;
    if (g_variant_lookup(hints, "sound-name", "&s", &sound)) notify.sound = sound;
    g_variant_unref(hints);
    self->notified_.push_back(notify);
    const auto number = guint32(40 + self->notified_.size());
    GVariant* id = g_variant_new("(u)", number);
    if (!self->answer_.empty()) self->answerLater(number);
    if (self->notifyDelay_.count() == 0)
      return g_dbus_method_invocation_return_value(invocation, id);
    // A slow server: the notification is up, the answer comes later.
    auto* late =
        new std::pair<GDBusMethodInvocation*, GVariant*>(invocation, g_variant_ref_sink(id));
    GSource* timer = g_timeout_source_new(guint(self->notifyDelay_.count()));
    g_source_set_callback(
        timer,
        [](gpointer pending) {
          std::unique_ptr<std::pair<GDBusMethodInvocation*, GVariant*>> answer(
              static_cast<std::pair<GDBusMethodInvocation*, GVariant*>*>(pending));
          g_dbus_method_invocation_return_value(answer->first, answer->second);
          g_variant_unref(answer->second);
          return G_SOURCE_REMOVE;
        },
        late, nullptr);
    g_source_attach(timer, self->context_);
    g_source_unref(timer);
  }

  // With the lock held, on the server's own context.
  void answerLater(guint32 id) {
    auto* job = new std::tuple<FakeNotificationServer*, guint32, std::string>(this, id, answer_);
    GSource* timer = g_timeout_source_new(guint(answerAfter_.count()));
    g_source_set_callback(
        timer,
        [](gpointer data) {
          std::unique_ptr<std::tuple<FakeNotificationServer*, guint32, std::string>> j(
              static_cast<std::tuple<FakeNotificationServer*, guint32, std::string>*>(data));
          std::get<0>(*j)->invokeAction(std::get<1>(*j), std::get<2>(*j));
          return G_SOURCE_REMOVE;
        },
        job, nullptr);
    g_source_attach(timer, context_);
    g_source_unref(timer);
  }

  std::chrono::milliseconds notifyDelay_;
  std::string answer_;  // none: the user leaves notifications alone
  std::chrono::milliseconds answerAfter_{0};
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::condition_variable resumed_;
  bool stalled_ = false;
  bool named_ = false;
  GMainContext* context_ = nullptr;
  GMainLoop* loop_ = nullptr;
  GDBusConnection* connection_ = nullptr;
  std::string caller_;
  std::vector<Notify> notified_;
  std::vector<guint32> closed_;
};

}  // namespace ventra::test
