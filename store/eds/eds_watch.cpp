#include "store/eds/eds_watch.h"

#include <algorithm>

#include "store/eds/eds_calls.h"
#include "store/items/conflict_failure.h"

namespace corvane {
namespace {

// An object's text without its LAST-MODIFIED, which EDS sets itself on
// every commit: what tells corvane's own write among the notices.
std::string withoutStamp(const std::string& text) {
  std::string kept;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    // Folded lines go with the line they continue.
    while (end < text.size() && (text[end] == ' ' || text[end] == '\t')) {
      std::size_t next = text.find('\n', end);
      end = next == std::string::npos ? text.size() : next + 1;
    }
    if (text.compare(start, 14, "LAST-MODIFIED:") != 0 &&
        text.compare(start, 14, "LAST-MODIFIED;") != 0)
      kept.append(text, start, end - start);
    start = end;
  }
  return kept;
}

gboolean noteTimeOut(gpointer flag) {
  *static_cast<bool*>(flag) = true;
  return G_SOURCE_REMOVE;
}

}  // namespace

Result<std::unique_ptr<EdsWatch>> EdsWatch::open(ECalClient* client,
                                                 const std::string& uid) {
  GCharPtr escaped(g_strescape(uid.c_str(), nullptr));
  const std::string query = std::string("(uid? \"") + escaped.get() + "\")";
  ECalClientView* opened = nullptr;
  {
    Deadline deadline(kCallWait);
    if (!deadline.get()) return unansweredFailure(false);
    ErrorSlot error;
    if (!e_cal_client_get_view_sync(client, query.c_str(), &opened,
                                    deadline.get(), error.out()))
      return failureOf(error.get(), false);
  }
  std::unique_ptr<EdsWatch> watch(
      new EdsWatch(e_client_ref_main_context(E_CLIENT(client)),
                   GObjectPtr<ECalClientView>(opened)));
  ECalClientView* view = watch->view_.get();
  g_signal_connect(view, "objects-added", G_CALLBACK(onChanged), watch.get());
  g_signal_connect(view, "objects-modified", G_CALLBACK(onChanged),
                   watch.get());
  g_signal_connect(view, "objects-removed", G_CALLBACK(onRemoved), watch.get());
  g_signal_connect(view, "complete", G_CALLBACK(onComplete), watch.get());
  ErrorSlot error;
  e_cal_client_view_set_flags(view, E_CAL_CLIENT_VIEW_FLAGS_NONE, error.out());
  if (!error.get()) e_cal_client_view_start(view, error.out());
  if (error.get()) return failureOf(error.get(), false);
  // Running once EDS has made its first answer to the view's query.
  if (!watch->waitFor([&](const Notice*) { return watch->complete_; }))
    return unansweredFailure(false);
  watch->notices_.clear();
  return watch;
}

EdsWatch::EdsWatch(GMainContext* context, GObjectPtr<ECalClientView> view)
    : context_(context), view_(std::move(view)) {}

EdsWatch::~EdsWatch() {
  g_signal_handlers_disconnect_by_data(view_.get(), this);
  e_cal_client_view_stop(view_.get(), nullptr);
  view_.reset();
  g_main_context_unref(context_);
}

template <class Predicate>
std::optional<std::size_t> EdsWatch::waitFor(Predicate isOurs) {
  bool timedOut = false;
  GSource* timer = g_timeout_source_new(static_cast<guint>(kCallWait.count()));
  g_source_set_callback(timer, noteTimeOut, &timedOut, nullptr);
  g_source_attach(timer, context_);
  std::size_t looked = heard_;
  std::optional<std::size_t> found;
  for (;;) {
    if (isOurs(nullptr)) {
      found = notices_.size();
      break;
    }
    for (; looked < notices_.size() && !found; ++looked)
      if (isOurs(&notices_[looked])) found = looked;
    if (found || timedOut) break;
    g_main_context_iteration(context_, TRUE);
  }
  g_source_destroy(timer);
  g_source_unref(timer);
  return found;
}

std::optional<std::string> EdsWatch::before(std::size_t ours) {
  const std::size_t first = heard_;
  heard_ = ours + 1;
  if (ours == first || notices_[ours - 1].removal) return std::nullopt;
  return notices_[ours - 1].object;
}

bool EdsWatch::sameWrite(const std::string& object,
                         const std::string& written) {
  return withoutStamp(object) == withoutStamp(written);
}

std::optional<std::optional<std::string>> EdsWatch::changedBefore(
    const std::string& written) {
  auto ours = waitFor([&](const Notice* notice) {
    return notice && !notice->removal && sameWrite(notice->object, written);
  });
  if (!ours) return std::nullopt;
  return before(*ours);
}

std::optional<std::optional<std::string>> EdsWatch::changedBeforeRemoval() {
  auto ours =
      waitFor([](const Notice* notice) { return notice && notice->removal; });
  if (!ours) return std::nullopt;
  return before(*ours);
}

// EDS gathers the commits of a moment into one notice, in their order.
void EdsWatch::onChanged(ECalClientView*, const GSList* objects,
                         gpointer self) {
  for (const GSList* item = objects; item; item = item->next)
    static_cast<EdsWatch*>(self)->notices_.push_back(
        {false, takeText(i_cal_component_as_ical_string(
                    static_cast<ICalComponent*>(item->data)))});
}

void EdsWatch::onRemoved(ECalClientView*, const GSList* ids, gpointer self) {
  for (const GSList* item = ids; item; item = item->next)
    static_cast<EdsWatch*>(self)->notices_.push_back({true, {}});
}

void EdsWatch::onComplete(ECalClientView*, const GError*, gpointer self) {
  static_cast<EdsWatch*>(self)->complete_ = true;
}

namespace {

// How many times another program's version is put back when other
// changes keep landing just before corvane's put-back.
constexpr int kPutBackRounds = 3;

// Writes `object` (another program's, which corvane's write went over)
// back: made anew when corvane removed its series.
Outcome putBack(ECalClient* client, const std::string& object, bool create) {
  GObjectPtr<ICalComponent> component(
      i_cal_component_new_from_string(object.c_str()));
  if (!component) return Failure{"EDS gave an object it cannot read back."};
  return create ? createObject(client, component.get())
                : modifyObject(client, component.get());
}

// Whether the commit just before corvane's left what corvane read: then
// corvane's write replaced only that. (EDS tells of a commit a moment
// after it, so a watch can hear of the commit corvane read too.)
bool wasRead(const EdsSeries& read, const std::string& object) {
  return std::ranges::find(read.components, object) != read.components.end();
}

Failure notPutBack(const Outcome& failed) {
  return Failure{
      "The reminder was changed by another program while corvane wrote it, "
      "and that program's version could not be put back: " +
          failed.reason(),
      FailureKind::kChanged};
}

}  // namespace

Outcome modifyIfStillAsRead(ECalClient* client, const EdsSeries& read,
                            ICalComponent* component) {
  auto watch = EdsWatch::open(client, read.uid);
  if (!watch) return watch.failure();
  if (Outcome same = stillAsRead(client, read); !same) return same;
  if (Outcome written = modifyObject(client, component); !written)
    return written;
  const std::string written =
      takeText(i_cal_component_as_ical_string(component));
  auto theirs = watch.value()->changedBefore(written);
  // No notice in time: EDS committed corvane's write, and cannot tell more.
  if (!theirs || !*theirs || wasRead(read, **theirs)) return done();
  // Another program's version goes back only over corvane's own write (a
  // change after it is newer than both); when yet another change lands
  // between that check and the put-back, that one goes back instead.
  std::string ours = written;
  for (int round = 0; round < kPutBackRounds; ++round) {
    auto current = readSeries(client, read.uid);
    if (!current) return notPutBack(current.failure());
    if (!current.value() ||
        std::ranges::none_of(current.value()->components, [&](const auto& one) {
          return EdsWatch::sameWrite(one, ours);
        }))
      break;
    ours = **theirs;
    if (Outcome back = putBack(client, ours, false); !back)
      return notPutBack(back);
    theirs = watch.value()->changedBefore(ours);
    if (!theirs || !*theirs) break;
  }
  return conflictFailure(Meanwhile::kChanged);
}

Outcome removeIfStillAsRead(ECalClient* client, const EdsSeries& read) {
  auto watch = EdsWatch::open(client, read.uid);
  if (!watch) return watch.failure();
  if (Outcome same = stillAsRead(client, read); !same) return same;
  if (Outcome removed = removeObjects(client, read.uid); !removed)
    return removed;
  auto theirs = watch.value()->changedBeforeRemoval();
  if (!theirs || !*theirs || wasRead(read, **theirs)) return done();
  if (Outcome back = putBack(client, **theirs, true); !back)
    return notPutBack(back);
  return conflictFailure(Meanwhile::kChanged);
}

}  // namespace corvane
