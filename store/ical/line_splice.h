// The one way the edits write a changed item: every content line they do
// not own kept byte for byte, their own lines replaced in place, and the
// properties they add put after the component's last own line.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/ical/content_line.h"

namespace corvane {

// The ending a replacement of `line` takes: its own, else the text's.
std::string_view endingFor(const ContentLine& line, const ContentLines& split);

// `text`, split into `split`, with line i replaced by `replacement[i]` where
// that is set (empty removes the line) and `added` after line `anchor`.
std::string spliceLines(
    std::string_view text, const ContentLines& split,
    const std::vector<std::optional<std::string>>& replacement,
    std::size_t anchor, std::string_view added);

}  // namespace corvane
