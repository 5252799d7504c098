// One validating view of a receive queue's header words (count, R, W, E), shared by the queue
// itself and by tools that look at it: the words are read once, then judged together.
#pragma once

#include <cstdint>

#include "share/wire/bytes.h"
#include "share/wire/layout.h"

namespace Vantor::KQCP::wire {

struct QueueHeader {
  std::uint32_t count = 0, read = 0, write = 0, end = 0;

  enum class Problem { kNone, kBeyondArea, kInconsistent };

  // The words at the start of a queue's data area.
  static QueueHeader Read(const std::uint8_t* words) {
    return {Load32(words + 4 * queue::kCountWord), Load32(words + 4 * queue::kReadWord),
            Load32(words + 4 * queue::kWriteWord), Load32(words + 4 * queue::kEndWord)};
  }

  // Whether the words make sense for a record area of area bytes.
  Problem Check(std::uint32_t area) const {
    if (read > area || write > area || end > area) return Problem::kBeyondArea;
    // No more records than the area could hold; wrapped, the reader is in the upper region,
    // which ends at E.
    if (count > area / record::kFixedBytes || (read > write && read > end)) {
      return Problem::kInconsistent;
    }
    return Problem::kNone;
  }

  // Bytes between the reader and the writer, wrapped or not (for sound words).
  std::uint32_t BytesUsed() const { return read <= write ? write - read : (end - read) + write; }
};

}  // namespace Vantor::KQCP::wire
