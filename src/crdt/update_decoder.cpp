// Update decoding.
#include "crdt/update_decoder.h"

#include <algorithm>
#include <new>

namespace cmx::crdt {

namespace {

Result<uint32_t, CrdtError> read_clock(Decoder& decoder) {
  CMX_ASSIGN_OR_RETURN(uint64_t clock, decoder.read_var_uint());
  if (clock > kMaxClock) return unexpected(CrdtError{CrdtErrorKind::kClockTooLarge, clock});
  return static_cast<uint32_t>(clock);
}

Result<uint64_t, CrdtError> read_client(Decoder& decoder) {
  CMX_ASSIGN_OR_RETURN(uint64_t client, decoder.read_var_uint());
  if (client > kMaxClientId) return unexpected(CrdtError{CrdtErrorKind::kClientIdTooLarge, client});
  return client;
}

Result<ID, CrdtError> read_id(Decoder& decoder) {
  CMX_ASSIGN_OR_RETURN(uint64_t client, read_client(decoder));
  CMX_ASSIGN_OR_RETURN(uint32_t clock, read_clock(decoder));
  return ID{client, clock};
}

Result<void, CrdtError> check_count(uint64_t count, const Decoder& decoder) {
  if (count > decoder.remaining()) {
    return unexpected(CrdtError{CrdtErrorKind::kLengthExceedsPayload, count, decoder.remaining()});
  }
  return {};
}

// A length of a block: at least 1 (0 for item contents, which take no
// clock and are dropped), and the block must end by kMaxClock.
Result<uint32_t, CrdtError> read_length(Decoder& decoder, uint32_t clock, bool may_be_empty = false) {
  CMX_ASSIGN_OR_RETURN(uint64_t length, decoder.read_var_uint());
  if (length == 0) {
    if (may_be_empty) return 0u;
    return unexpected(CrdtError{CrdtErrorKind::kEmptyBlock});
  }
  if (length > uint64_t{kMaxClock} - clock) {
    return unexpected(CrdtError{CrdtErrorKind::kClockTooLarge, uint64_t{clock} + length - 1});
  }
  return static_cast<uint32_t>(length);
}

Result<void, CrdtError> read_content(Decoder& decoder, UpdateVisitor& visitor, Block& block) {
  switch (block.content) {
    case ContentKind::kDeleted: {
      CMX_ASSIGN_OR_RETURN(block.length, read_length(decoder, block.id.clock, true));
      return visitor.content_length(StructKind::kItem, block.content, block.length);
    }
    case ContentKind::kType: {
      CMX_ASSIGN_OR_RETURN(uint64_t type_ref, decoder.read_var_uint());
      if (type_ref != static_cast<uint8_t>(TypeRef::kArray) && type_ref != static_cast<uint8_t>(TypeRef::kMap)) {
        return unexpected(CrdtError{CrdtErrorKind::kUnsupportedType, type_ref});
      }
      block.type_ref = static_cast<TypeRef>(type_ref);
      if (block.id.clock >= kMaxClock) return unexpected(CrdtError{CrdtErrorKind::kClockTooLarge, block.id.clock});
      block.length = 1;
      return {};
    }
    case ContentKind::kAny: {
      CMX_ASSIGN_OR_RETURN(block.length, read_length(decoder, block.id.clock, true));
      CMX_TRY(visitor.content_length(StructKind::kItem, block.content, block.length));
      // Every value takes at least one byte.
      CMX_TRY(check_count(block.length, decoder));
      block.values.reserve(block.length);
      for (uint32_t idx = 0; idx < block.length; ++idx) {
        CMX_ASSIGN_OR_RETURN(Any value, read_any(decoder));
        block.values.push_back(std::move(value));
      }
      return {};
    }
  }
  return {};
}

Result<void, CrdtError> read_block(Decoder& decoder, UpdateVisitor& visitor, Block& block) {
  CMX_ASSIGN_OR_RETURN(uint8_t info, decoder.read_u8());
  const uint8_t ref = info & kContentMask;
  if (info == kInfoGc || info == kInfoSkip) {
    block.kind = ref == kInfoGc ? StructKind::kGc : StructKind::kSkip;
    CMX_ASSIGN_OR_RETURN(block.length, read_length(decoder, block.id.clock));
    return visitor.content_length(block.kind, ContentKind::kDeleted, block.length);
  }
  if (ref == kInfoGc || ref == kInfoSkip) {
    // GC and skip structs carry no flags.
    return unexpected(CrdtError{CrdtErrorKind::kUnsupportedContent, info});
  }
  if (ref != static_cast<uint8_t>(ContentKind::kDeleted) && ref != static_cast<uint8_t>(ContentKind::kType) &&
      ref != static_cast<uint8_t>(ContentKind::kAny)) {
    return unexpected(CrdtError{CrdtErrorKind::kUnsupportedContent, ref});
  }
  block.kind = StructKind::kItem;
  block.content = static_cast<ContentKind>(ref);
  if ((info & kHasOrigin) != 0) {
    CMX_ASSIGN_OR_RETURN(ID origin, read_id(decoder));
    block.origin = origin;
  }
  if ((info & kHasRightOrigin) != 0) {
    CMX_ASSIGN_OR_RETURN(ID right_origin, read_id(decoder));
    block.right_origin = right_origin;
  }
  if ((info & (kHasOrigin | kHasRightOrigin)) == 0) {
    // Only an item without neighbours names its parent (and map key).
    CMX_ASSIGN_OR_RETURN(uint64_t flag, decoder.read_var_uint());
    if (flag == 1) {
      CMX_ASSIGN_OR_RETURN(block.parent_name, decoder.read_string());
    } else if (flag == 0) {
      CMX_ASSIGN_OR_RETURN(ID parent, read_id(decoder));
      block.parent_id = parent;
    } else {
      return unexpected(CrdtError{CrdtErrorKind::kUnexpectedValue});
    }
    if ((info & kHasParentSub) != 0) {
      CMX_ASSIGN_OR_RETURN(block.parent_sub, decoder.read_string());
    }
  }
  return read_content(decoder, visitor, block);
}

Result<void, CrdtError> read_delete_ranges(Decoder& decoder, UpdateVisitor& visitor) {
  return walk_delete_set(
      decoder, [&visitor](uint64_t client, uint64_t ranges) { return visitor.delete_client(client, ranges); },
      [&visitor](uint64_t client, uint32_t clock, uint32_t len) { return visitor.delete_range(client, clock, len); });
}

class Collector final : public UpdateVisitor {
 public:
  Collector(Update& update, const Decoder& decoder) : update_(update), decoder_(decoder) {}
  Result<void, CrdtError> client_group(uint64_t client, uint32_t clock, uint64_t block_count) override {
    (void)clock;
    group_ = &update_.clients[client];
    // A block takes at least two bytes. Only a client's first group reserves:
    // a peer splitting a client into many groups must not make each of them
    // copy what came before.
    if (group_->empty()) group_->reserve(static_cast<size_t>(std::min<uint64_t>(block_count, decoder_.remaining() / 2)));
    return {};
  }
  Result<void, CrdtError> block(Block&& block) override {
    auto& blocks = *group_;
    if (!blocks.empty() && blocks.back().id.clock > block.id.clock) unsorted_ = true;
    blocks.push_back(std::move(block));
    return {};
  }
  Result<void, CrdtError> delete_range(uint64_t client, uint32_t clock, uint32_t len) override {
    update_.delete_set.add(client, clock, len);
    return {};
  }
  // A client may appear in more than one group; its blocks are kept in clock
  // order all the same.
  void finish() {
    if (unsorted_) {
      for (auto& [client, blocks] : update_.clients) {
        std::stable_sort(blocks.begin(), blocks.end(),
                         [](const Block& a, const Block& b) { return a.id.clock < b.id.clock; });
      }
    }
    update_.delete_set.sort_and_merge();
  }

 private:
  Update& update_;
  const Decoder& decoder_;
  std::vector<Block>* group_ = nullptr;
  bool unsorted_ = false;
};

}  // namespace

Result<void, CrdtError> decode_update(Decoder& decoder, UpdateVisitor& visitor) {
  CMX_ASSIGN_OR_RETURN(uint64_t groups, decoder.read_var_uint());
  CMX_TRY(check_count(groups, decoder));
  CMX_TRY(visitor.client_count(groups));
  for (uint64_t group = 0; group < groups; ++group) {
    CMX_ASSIGN_OR_RETURN(uint64_t count, decoder.read_var_uint());
    CMX_TRY(check_count(count, decoder));
    CMX_ASSIGN_OR_RETURN(uint64_t client, read_client(decoder));
    CMX_ASSIGN_OR_RETURN(uint32_t clock, read_clock(decoder));
    CMX_TRY(visitor.client_group(client, clock, count));
    for (uint64_t idx = 0; idx < count; ++idx) {
      if (clock > kMaxClock) return unexpected(CrdtError{CrdtErrorKind::kClockTooLarge, clock});
      Block block;
      block.id = ID{client, clock};
      CMX_TRY(read_block(decoder, visitor, block));
      // Ends at most at kMaxClock + 1, which the check above refuses as the
      // start of a further block.
      clock += block.length;
      if (block.length > 0) CMX_TRY(visitor.block(std::move(block)));
    }
  }
  return read_delete_ranges(decoder, visitor);
}

Result<Update, CrdtError> decode_update(std::span<const uint8_t> bytes) {
  try {
    Decoder decoder(bytes);
    Update update;
    Collector collector(update, decoder);
    CMX_TRY(decode_update(decoder, collector));
    if (!decoder.at_end()) return unexpected(CrdtError{CrdtErrorKind::kUpdateTrailingBytes});
    collector.finish();
    return update;
  } catch (const std::bad_alloc&) {
    return unexpected(CrdtError{CrdtErrorKind::kAllocationFailed, bytes.size()});
  }
}

}  // namespace cmx::crdt
