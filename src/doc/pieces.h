// The bytes a save writes, made piece by piece as they are written so that no whole image of
// the document need be held.
#pragma once

#include <cstddef>
#include <cstring>
#include <span>
#include <type_traits>

#include "core/document.h"
#include "core/status.h"

/// Bytes of the written form: every line from 0 to DocLength, each followed by a newline.
std::size_t ImageSize(const Document& doc);

/// The bytes of a file to be written, size() in all. Each() hands every piece in order to `sink`
/// and stops at the first failure, which it returns; it may be gone through more than once.
/// Nothing allocates: the source, a small trivially copyable callable, is kept in the object.
class Pieces {
 public:
  /// A callable taking a piece and returning a Status, referred to (it must outlive the call).
  class Sink {
   public:
    template <typename Call, typename = std::enable_if_t<!std::is_same_v<Call, Sink>>>
    Sink(const Call& call)  // NOLINT: any callable that takes a piece is a sink
        : call_(&call), run_([](const void* call, std::span<const char> piece) -> Status {
            return (*static_cast<const Call*>(call))(piece);
          }) {}
    Status operator()(std::span<const char> piece) const { return run_(call_, piece); }

   private:
    const void* call_;
    Status (*run_)(const void*, std::span<const char>);
  };

  /// `each(sink)` hands the pieces to `sink`. `spare`, when given, is kGatherRoom bytes that the
  /// write may use when it cannot have a buffer of its own (see DocumentPieces).
  template <typename Source>
  Pieces(std::size_t size, const Source& each, char* spare = nullptr) : size_(size), spare_(spare) {
    static_assert(sizeof(Source) <= sizeof room_ && alignof(Source) <= alignof(std::max_align_t));
    static_assert(std::is_trivially_copyable_v<Source> && std::is_trivially_destructible_v<Source>);
    std::memcpy(room_, static_cast<const void*>(&each), sizeof(Source));
    each_ = [](const void* source, const Sink& sink) -> Status {
      return (*static_cast<const Source*>(source))(sink);
    };
  }
  template <typename Bytes,
            typename = std::enable_if_t<std::is_convertible_v<const Bytes&, std::span<const char>>>>
  Pieces(const Bytes& bytes)  // NOLINT: a span of bytes is the simplest content
      : Pieces(std::span<const char>(bytes).size(),
               [piece = std::span<const char>(bytes)](const Sink& sink) {
                 return piece.empty() ? Status() : sink(piece);
               }) {}

  std::size_t size() const { return size_; }
  Status Each(const Sink& sink) const { return each_(room_, sink); }
  /// Room a write may borrow when memory is refused (kGatherRoom bytes), or null.
  char* spare() const { return spare_; }

 private:
  std::size_t size_;
  char* spare_;
  Status (*each_)(const void*, const Sink&);
  alignas(std::max_align_t) unsigned char room_[64];
};

/// The bytes DocumentPieces gathers short lines in, and the least a spare room holds.
inline constexpr std::size_t kGatherRoom = 256 * 1024;

/// The written form of the document (see ImageSize) as pieces: runs of loaded lines straight
/// from the load block, other lines gathered in `room`, or without it in a buffer had for each
/// pass, or in `spare` (also lent to the write as Pieces::spare()); ENOMEM when neither can be
/// had. The document must not change while they are kept (builds with assertions check it).
Pieces DocumentPieces(const Document& doc, char* room = nullptr, char* spare = nullptr);
