#include "tavrin/workflow/Session.h"

namespace tavrin::Session {

RowCheck check(const Row& row, Verify how, const CancelCheck& isCancelled) {
    RowCheck found{verify(row.path, row.stamp, how, isCancelled)};
    for (const auto& [preset, copy] : row.copies)
        if (const State state = verify(copy.path, copy.stamp, how, isCancelled);
            state != State::unchanged)
            found.copies.emplace_back(preset, state);
    return found;
}

} // namespace tavrin::Session
