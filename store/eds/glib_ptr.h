// Owning holders for what GLib hands out, so that the EDS store never
// releases anything by hand: GObjects, errors, strings and lists.
#pragma once

#include <glib-object.h>

#include <memory>
#include <string>

namespace corvane {

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <class T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GFree {
  void operator()(gpointer memory) const { g_free(memory); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;

// A list whose items are GObjects, each released with the list.
struct GListOfObjectsFree {
  void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};
using GObjectList = std::unique_ptr<GList, GListOfObjectsFree>;
struct GSListOfObjectsFree {
  void operator()(GSList* list) const {
    g_slist_free_full(list, g_object_unref);
  }
};
using GObjectSList = std::unique_ptr<GSList, GSListOfObjectsFree>;

// Fills a GError out-parameter and keeps what it was given.
class ErrorSlot {
 public:
  ErrorSlot() = default;
  ErrorSlot(const ErrorSlot&) = delete;
  ErrorSlot& operator=(const ErrorSlot&) = delete;
  GError** out() { return &error_; }
  ~ErrorSlot() {
    if (error_) g_error_free(error_);
  }
  const GError* get() const { return error_; }
  // The error's own message; a stand-in when there is none.
  std::string message() const {
    return error_ && error_->message ? error_->message : "Unknown error";
  }

 private:
  GError* error_ = nullptr;
};

// The text, or "" for none; takes ownership.
inline std::string takeText(gchar* text) {
  GCharPtr owned(text);
  return owned ? std::string(owned.get()) : std::string();
}

}  // namespace corvane
