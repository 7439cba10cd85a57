// The engine's one data container: a 4-D shape, the layout its float buffer is
// in, up to six typed buffers (owned or borrowed) and its graph links.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace TAVROMATTING {

class Layer;
class PackCache;
struct PackRequest;

// Element kinds of the typed buffers. Kinds 3 to 5 exist in the record
// format but no record or layer of this system uses them.
enum ElementKind : int {
  kFloat32 = 0,
  kHalf = 1,
  kUint8 = 2,
  kElementKind3 = 3,
  kElementKind4 = 4,
  kElementKind5 = 5,
  kElementKinds = 6
};

// Layout codes: where each float of a tensor lives. Blocked layouts group b
// filters side by side (the last block moved back to end at the last
// filter); interleaved ones also group s input channels; channel-blocked
// ones put the channel loop outside the column loop; planar ones put it
// outside the rows. kLayoutFormats gives (block, interleave, flags) by code.
enum LayoutCode : uint32_t {
  kPlain = 0,          // n, h, w, c (c fastest)
  kPlanarSource = 1,   // n, c, h, w (model weights, dumps)
  kBlock32 = 2,
  kBlock24 = 3,
  kBlock16 = 4,
  kBlock8 = 5,
  kBlock4 = 6,
  kBlock2 = 7,
  kBlock1 = 8,
  kBlock16Interleave2 = 9,
  kBlock8Interleave2 = 10,
  kBlock4Interleave4 = 11,
  kBlock8Interleave4 = 12,
  kBlock16Interleave4 = 13,
  kChannelBlock24 = 14,
  kChannelBlock16 = 15,
  kChannelBlock12 = 16,
  kChannelBlock8 = 17,
  kChannelBlock4 = 18,
  kChannelBlock2 = 19,
  kChannelBlock1 = 20,
  kChannelBlock8Interleave2 = 21,
  kChannelBlock8Interleave4 = 22,
  kChannelBlock16Interleave4 = 23,
  kPlanarBlock4 = 24,
  kPlanarBlock8 = 25,
  kBlock1Second = 26,      // packs exactly as kBlock1
  kRowChannelFilter = 27,  // y, k, x, f
  kWholeBlock = 28,        // y, x, k, f; the block is the whole n (or c) dim
  kLayoutCodeCount = 29
};

struct LayoutFormat {
  uint32_t block;
  uint32_t interleave;
  uint32_t flags;  // low byte: channel blocked; second byte: planar
  bool channelBlocked() const { return (flags & 0xff) != 0; }
  bool planar() const { return ((flags >> 8) & 0xff) != 0; }
};
constexpr int kLayoutFormatCount = kLayoutCodeCount;
extern const LayoutFormat kLayoutFormats[kLayoutFormatCount];

// 64-byte aligned, zero-filled allocation with 136 bytes of slack; the raw
// address is kept just below the returned one. Null on failure.
void* AlignedAlloc(uint64_t bytes);
void AlignedFree(void* p);

class Tensor {
 public:
  Tensor();
  virtual ~Tensor();
  Tensor(const Tensor&) = delete;
  Tensor& operator=(const Tensor&) = delete;

  uint32_t n = 0, h = 0, w = 0, c = 0;
  uint64_t count = 0;  // 0: n*h*w*c
  uint32_t format = 0;
  std::string name;
  float mean[3] = {0.f, 0.f, 0.f};
  float scale[3] = {1.f, 1.f, 1.f};
  void* buffers[kElementKinds] = {};
  uint8_t swappedNC = 0;
  uint8_t borrowed[kElementKinds] = {};
  Layer* producer = nullptr;
  std::vector<Layer*> consumers;
  uint32_t outputTag = 0;

  uint64_t ElementCount() const;
  // Sets the shape and layout; the element count follows the shape again.
  void SetShape(uint32_t n_, uint32_t h_, uint32_t w_, uint32_t c_, uint32_t format_);

  // The float buffer in the requested layout. A request for another layout
  // converts the buffer in place, from the plain or planar source layout
  // only: the converted copy becomes the tensor's (owned) buffer, with the
  // shape fields, count and n-c flag that describe it. Layers never ask for
  // another layout here: they use Pack when prepared, so a tensor's buffer
  // stays what it was.
  float* data(uint32_t format = kPlain, bool swapNC = false, bool zeroPadLast = false,
              bool padC4 = false, const float* offsets = nullptr);
  float* floatData() const { return static_cast<float*>(buffers[kFloat32]); }
  uint16_t* halfData() const { return static_cast<uint16_t*>(buffers[kHalf]); }
  uint8_t* byteData() const { return static_cast<uint8_t*>(buffers[kUint8]); }

  // Binds an external buffer as borrowed (releasing an owned one first).
  void Bind(int kind, void* p);
  // Takes shape and format from a record, then binds its data (if any).
  void BindRecord(uint32_t n_, uint32_t h_, uint32_t w_, uint32_t c_, uint32_t format_,
                  int kind, const void* p);
  // Makes sure the float buffer exists (count elements, zero-filled).
  float* EnsureFloat();

  // The floats in a kernel's layout: packed on the first request into a copy
  // the tensor owns beside its own buffer (buffer, shape and format stay as
  // they are). Layers pack their weights when prepared; forward passes only
  // look the copy up with Packed. Null when packing failed (a later Pack
  // tries again) or, for Packed, when it was never asked for. Binding new
  // floats or converting them in place drops the copies.
  const float* Pack(const PackRequest& req);
  const float* Packed(const PackRequest& req) const;
  const PackCache* packs() const { return packs_.get(); }

  void CopyTo(Tensor& dst) const;
  void HalfToFloat();
  void FloatToHalf();
  void AddConsumer(Layer* layer) { consumers.push_back(layer); }

 private:
  void Release(int kind);
  std::unique_ptr<PackCache> packs_;
};

}  // namespace TAVROMATTING
