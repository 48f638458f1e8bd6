// The MessagePack decoder: one pass over the bytes with the open containers
// on an explicit stack, so no input can take the thread's stack deeper than
// this file's own calls.
//
// Scalars and texts go straight into their node; only arrays and maps take a
// frame, which keeps the node, its item count, the next item and, for maps,
// the key just read (a view into the input, copied only when the member is
// made). Nodes are created as their items arrive, never from declared counts
// alone, so a count the input cannot back costs nothing.
#include "formats/msgpack_reader.h"

#include <cstring>
#include <string_view>
#include <type_traits>
#include <vector>

#include "util/format.h"

namespace Zarn {
namespace detail {
namespace {

constexpr const char* kBadItem = "Invalid MessagePack data at position %1.";
constexpr const char* kKeyNotString = "Invalid MessagePack data at position %1. Map keys must be strings.";
constexpr const char* kTooDeep = "Invalid MessagePack data at position %1. Nesting deeper than %2 levels.";
constexpr const char* kStringTruncated = "Invalid MessagePack data. String of size %1 at position %2 is truncated.";
constexpr const char* kBytesTruncated = "Invalid MessagePack data. Raw bytes of size %1 at position %2 are truncated.";

template <typename T>
constexpr const char* TruncatedFieldMessage() {
  if constexpr (sizeof(T) == 1) {
    return "Invalid MessagePack data. 8-bit integer value at position %1 is truncated.";
  } else if constexpr (sizeof(T) == 2) {
    return "Invalid MessagePack data. 16-bit integer value at position %1 is truncated.";
  } else if constexpr (sizeof(T) == 4) {
    return "Invalid MessagePack data. 32-bit integer value at position %1 is truncated.";
  } else {
    return "Invalid MessagePack data. 64-bit integer value at position %1 is truncated.";
  }
}

// An unaligned big-endian field, as one load and one byte swap (every
// target is little-endian x86, built with GCC).
template <typename T>
T LoadBigEndian(const uint8_t* bytes) noexcept {
  T value;
  std::memcpy(&value, bytes, sizeof value);
  if constexpr (sizeof(T) == 2) {
    value = __builtin_bswap16(value);
  } else if constexpr (sizeof(T) == 4) {
    value = __builtin_bswap32(value);
  } else if constexpr (sizeof(T) == 8) {
    value = __builtin_bswap64(value);
  }
  return value;
}

// One parse. The read position is a local of Run, handed by reference to
// the inlined steps and stored only when a message needs it, so it can stay
// in a register across the calls into the value model.
class MessagePackReader {
 public:
  MessagePackReader(const uint8_t* data, size_t size, BindingResult& result) noexcept
      : begin_(data), end_(data + size), result_(result) {}

  // Reads the first value into the result; returns the final position.
  size_t Run() {
    const uint8_t* at = begin_;
    if (at == end_) return 0;
    frames_.resize(16);
    BindingProperty* target = &result_;
    for (;;) {
      if (!ReadValue(at, *target)) return Offset(at);
      // The next node to fill: closed containers leave the stack, a map's
      // even items are keys, read here into the frame.
      for (;;) {
        if (depth_ == 0 || at == end_) return Offset(at);
        Frame& top = frames_[depth_ - 1];
        if (top.index == top.count) {
          --depth_;
          continue;
        }
        if (!top.isMap) {
          if (top.isReserved) --unbackedReservations_;
          // At, not Append: a repeated key's array writes over the old elements.
          target = &top.node->At(static_cast<size_t>(top.index++));
          break;
        }
        if ((top.index++ & 1) == 0) {
          if (!ReadKey(at, top)) return Offset(at);
          continue;
        }
        target = &top.node->Member(std::string_view(top.key, top.keyLength));
        break;
      }
    }
  }

 private:
  struct Frame {
    BindingProperty* node;
    // Elements of an array, twice the pairs of a map: 64 bits, since twice a
    // 32-bit pair count does not fit in 32.
    uint64_t count;
    uint64_t index;   // the next item; in a map, even items are keys
    const char* key;  // the key read last, inside the input
    size_t keyLength;
    bool isMap;
    bool isReserved;  // the array's element storage was reserved up front
  };

  size_t Offset(const uint8_t* at) const noexcept { return static_cast<size_t>(at - begin_); }
  size_t Left(const uint8_t* at) const noexcept { return static_cast<size_t>(end_ - at); }

  // The failures; out of line, off the path of well-formed input.
  [[gnu::noinline]] bool Fail(const char* pattern, const uint8_t* at) {
    result_.SetError(pattern, static_cast<uint64_t>(Offset(at)));
    return false;
  }
  [[gnu::noinline]] bool FailPayload(const char* pattern, uint64_t length, const uint8_t* at) {
    result_.SetError(pattern, length, static_cast<uint64_t>(Offset(at)));
    return false;
  }
  [[gnu::noinline]] bool FailDepth(const uint8_t* at) {
    result_.SetError(kTooDeep, static_cast<uint64_t>(Offset(at)), static_cast<uint32_t>(kMaxNestingDepth));
    return false;
  }

  // A fixed-size field: a number, or a length or count.
  template <typename T>
  bool ReadField(const uint8_t*& at, T& value) {
    if (Left(at) < sizeof(T)) return Fail(TruncatedFieldMessage<T>(), at);
    value = LoadBigEndian<T>(at);
    at += sizeof(T);
    return true;
  }

  // length bytes of payload; pattern names what they were meant to be.
  bool ReadPayload(const uint8_t*& at, uint64_t length, const char* pattern, const uint8_t*& bytes) {
    if (Left(at) < length) return FailPayload(pattern, length, at);
    bytes = at;
    at += static_cast<size_t>(length);
    return true;
  }

  bool ReadString(const uint8_t*& at, BindingProperty& node, uint64_t length) {
    const uint8_t* bytes = nullptr;
    if (!ReadPayload(at, length, kStringTruncated, bytes)) return false;
    node.SetString(std::string_view(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length)));
    return true;
  }
  template <typename Length>
  bool ReadSizedString(const uint8_t*& at, BindingProperty& node) {
    Length length = 0;
    return ReadField(at, length) && ReadString(at, node, length);
  }

  template <typename Length>
  bool ReadBlob(const uint8_t*& at, BindingProperty& node) {
    Length length = 0;
    const uint8_t* bytes = nullptr;
    if (!ReadField(at, length) || !ReadPayload(at, length, kBytesTruncated, bytes)) return false;
    node.SetBlob(bytes, static_cast<size_t>(length));
    return true;
  }

  template <typename Stored, typename Wire>
  bool ReadNumber(const uint8_t*& at, BindingProperty& node) {
    Wire bits = 0;
    if (!ReadField(at, bits)) return false;
    if constexpr (std::is_same_v<Stored, double>) {
      if constexpr (sizeof(Wire) == 4) {
        float value;
        std::memcpy(&value, &bits, sizeof value);
        node.SetFloat(value);
      } else {
        double value;
        std::memcpy(&value, &bits, sizeof value);
        node.SetFloat(value);
      }
    } else if constexpr (std::is_signed_v<Stored>) {
      node.SetSigned(static_cast<std::make_signed_t<Wire>>(bits));
    } else {
      node.SetUnsigned(bits);
    }
    return true;
  }

  // A frame for a container about to open, or null (and the failure set)
  // when that would nest too deep. The position is just past the header byte.
  Frame* NewFrame(const uint8_t* at) {
    if (depth_ >= kMaxNestingDepth) {
      FailDepth(at);
      return nullptr;
    }
    if (depth_ == frames_.size()) frames_.resize(depth_ * 2);
    return &frames_[depth_];
  }

  bool OpenArray(const uint8_t* at, Frame* frame, BindingProperty& node, uint32_t count) {
    node.MakeCollection();
    // Every element still to come needs a byte of its own, so the elements
    // the open arrays still expect never exceed the bytes left in an input
    // that holds them. Storage is reserved only within that bound: a count
    // the input cannot back, at any depth, costs no more memory than the
    // input could fill. Arrays of up to two start at that size anyway.
    bool isReserved = false;
    if (count > 2 && unbackedReservations_ <= Left(at) && count <= Left(at) - unbackedReservations_) {
      node.Reserve(count);
      unbackedReservations_ += count;
      isReserved = true;
    }
    frame->node = &node;
    frame->count = count;
    frame->index = 0;
    frame->isMap = false;
    frame->isReserved = isReserved;
    ++depth_;
    return true;
  }
  template <typename Count>
  bool ReadArray(const uint8_t*& at, BindingProperty& node) {
    Frame* frame = NewFrame(at);
    Count count = 0;
    return frame != nullptr && ReadField(at, count) && OpenArray(at, frame, node, count);
  }

  bool OpenMap(Frame* frame, BindingProperty& node, uint32_t pairs) {
    node.MakeStructure();
    frame->node = &node;
    frame->count = uint64_t{pairs} * 2;
    frame->index = 0;
    frame->isMap = true;
    frame->isReserved = false;
    ++depth_;
    return true;
  }
  template <typename Count>
  bool ReadMap(const uint8_t*& at, BindingProperty& node) {
    Frame* frame = NewFrame(at);
    Count pairs = 0;
    return frame != nullptr && ReadField(at, pairs) && OpenMap(frame, node, pairs);
  }

  // A map key: any string form, kept as a view into the input until its
  // member is made.
  bool ReadKey(const uint8_t*& at, Frame& frame) {
    const uint8_t byte = *at++;
    uint64_t length = 0;
    if (byte >= 0xa0 && byte <= 0xbf) {
      length = byte & 0x1f;
    } else if (byte == 0xd9) {
      uint8_t field = 0;
      if (!ReadField(at, field)) return false;
      length = field;
    } else if (byte == 0xda) {
      uint16_t field = 0;
      if (!ReadField(at, field)) return false;
      length = field;
    } else if (byte == 0xdb) {
      uint32_t field = 0;
      if (!ReadField(at, field)) return false;
      length = field;
    } else {
      return Fail(kKeyNotString, at);
    }
    const uint8_t* bytes = nullptr;
    if (!ReadPayload(at, length, kStringTruncated, bytes)) return false;
    frame.key = reinterpret_cast<const char*>(bytes);
    frame.keyLength = static_cast<size_t>(length);
    return true;
  }

  // One item into node; containers are opened and left on the stack.
  bool ReadValue(const uint8_t*& at, BindingProperty& node) {
    const uint8_t byte = *at++;
    if (byte <= 0x7f) {
      node.SetSigned(byte);
      return true;
    }
    if (byte >= 0xe0) {
      node.SetSigned(static_cast<int8_t>(byte));
      return true;
    }
    if (byte <= 0x9f) {
      Frame* frame = NewFrame(at);
      if (frame == nullptr) return false;
      return byte <= 0x8f ? OpenMap(frame, node, byte & 0x0f) : OpenArray(at, frame, node, byte & 0x0f);
    }
    if (byte <= 0xbf) return ReadString(at, node, byte & 0x1f);
    switch (byte) {
      case 0xc0:
        node.Clear();
        return true;
      case 0xc2:
        node.SetBool(false);
        return true;
      case 0xc3:
        node.SetBool(true);
        return true;
      case 0xc4: return ReadBlob<uint8_t>(at, node);
      case 0xc5: return ReadBlob<uint16_t>(at, node);
      case 0xc6: return ReadBlob<uint32_t>(at, node);
      case 0xca: return ReadNumber<double, uint32_t>(at, node);
      case 0xcb: return ReadNumber<double, uint64_t>(at, node);
      case 0xcc: return ReadNumber<uint64_t, uint8_t>(at, node);
      case 0xcd: return ReadNumber<uint64_t, uint16_t>(at, node);
      case 0xce: return ReadNumber<uint64_t, uint32_t>(at, node);
      case 0xcf: return ReadNumber<uint64_t, uint64_t>(at, node);
      case 0xd0: return ReadNumber<int64_t, uint8_t>(at, node);
      case 0xd1: return ReadNumber<int64_t, uint16_t>(at, node);
      case 0xd2: return ReadNumber<int64_t, uint32_t>(at, node);
      case 0xd3: return ReadNumber<int64_t, uint64_t>(at, node);
      case 0xd9: return ReadSizedString<uint8_t>(at, node);
      case 0xda: return ReadSizedString<uint16_t>(at, node);
      case 0xdb: return ReadSizedString<uint32_t>(at, node);
      case 0xdc: return ReadArray<uint16_t>(at, node);
      case 0xdd: return ReadArray<uint32_t>(at, node);
      case 0xde: return ReadMap<uint16_t>(at, node);
      case 0xdf: return ReadMap<uint32_t>(at, node);
      default:  // 0xc1, ext 8/16/32, fixext 1 to 16
        return Fail(kBadItem, at);
    }
  }

  const uint8_t* const begin_;
  const uint8_t* const end_;
  BindingResult& result_;
  // The open containers, innermost last: frames_[0, depth_).
  std::vector<Frame> frames_;
  size_t depth_ = 0;
  // Reserved elements of the open arrays that are not read yet.
  size_t unbackedReservations_ = 0;
};

}  // namespace
}  // namespace detail

MessagePackParse ParseMessagePack(const uint8_t* data, size_t size) {
  MessagePackParse parse;
  parse.consumed = detail::MessagePackReader(data, size, parse.result).Run();
  return parse;
}

MessagePackParse ParseMessagePack(std::string_view bytes) {
  return ParseMessagePack(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

bool LooksLikeMessagePack(const uint8_t* data, size_t size) noexcept {
  return size != 0 && ((data[0] >= 0x80 && data[0] <= 0x9f) || (data[0] >= 0xdc && data[0] <= 0xdf));
}

bool LooksLikeMessagePack(std::string_view bytes) noexcept {
  return LooksLikeMessagePack(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace Zarn
