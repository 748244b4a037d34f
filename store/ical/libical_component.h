// A component libical has parsed, owned: freed with everything under it
// when the owner goes.
#pragma once

#include <libical/ical.h>

#include <memory>

namespace corvane {

struct ComponentFree {
  void operator()(icalcomponent* component) const {
    icalcomponent_free(component);
  }
};
using ComponentPtr = std::unique_ptr<icalcomponent, ComponentFree>;

}  // namespace corvane
