#include "store/series_move.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {
}  // namespace
}  // namespace corvane
