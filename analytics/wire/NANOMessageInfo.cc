#include "analytics/wire/NANOMessageInfo.h"

#include "analytics/wire/NANOMessageType.h"

namespace {
// Moves the records that `info` holds, directly or in its lists, to `pending`.
// Only message fields hold records; in a record that does not match its
// message's tables every slot is looked at.
void takeSubRecords(NANOMessageInfo& info, std::vector<std::unique_ptr<NANOMessageInfo>>* pending) {
  bool typed = info.type && info.flags == info.type->flags && info.fields.size() == info.type->fieldCount;
  for (size_t i = 0; i < info.fields.size(); ++i) {
    if (typed && !(info.flags[i] & NANOFieldFlag::Message)) continue;
    NANOSlot& slot = info.fields[i];
    if (auto* record = std::get_if<std::unique_ptr<NANOMessageInfo>>(&slot.value)) {
      if (*record) pending->push_back(std::move(*record));
    } else if (NANOArray* header = slot.array()) {
      for (NANOSlot& item : header->items) {
        if (auto* element = std::get_if<std::unique_ptr<NANOMessageInfo>>(&item.value)) {
          if (*element) pending->push_back(std::move(*element));
        }
      }
    }
  }
}
}  // namespace

NANOMessageInfo::~NANOMessageInfo() {
  // Each record is emptied of its sub-records before it is destroyed, so a
  // deeply nested tree is freed level by level instead of by recursion.
  std::vector<std::unique_ptr<NANOMessageInfo>> pending;
  takeSubRecords(*this, &pending);
  while (!pending.empty()) {
    std::unique_ptr<NANOMessageInfo> next = std::move(pending.back());
    pending.pop_back();
    takeSubRecords(*next, &pending);
  }
}
