#include "host/gst/tavro_portrait.h"

#include "host/gst/background_video.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <libyuv/convert.h>
#include <libyuv/convert_from.h>

#include "host/backdrop_picture.h"
#include "host/composite/compositor.h"
#include "host/configs_check.h"
#include "host/i420_image.h"
#include "host/module_session.h"
#include "sdk/filter_settings.h"

GST_DEBUG_CATEGORY_STATIC(tavro_portrait_debug);
#define GST_CAT_DEFAULT tavro_portrait_debug

namespace {

constexpr char kModuleFile[] = "libtavro_segmentation_extension.so";

// What the element gives downstream, fixed by the negotiated caps: the
// mask, the frame with the mask as alpha, the module's own bokeh, or the
// frame over a new background (blur, colour, picture) composited here.
enum class Output { kNone, kMask, kAlpha, kBokeh, kComposite };

// Everything C++ lives here; the GObject instance holds a pointer to it.
// The element's own starting values of the "configs" members: the module's,
// except that the mask's edges follow the frame's (what a picture composite
// needs, and off by default in the module).
tavro_rtc::FilterSettings ElementSwitches() {
  tavro_rtc::FilterSettings s;
  s.refine_edges = true;
  return s;
}

struct State {
  // Properties, under propertyMutex (a std::mutex rather than the object
  // lock, whose futex the race detector cannot see). serial counts changes
  // that the module must hear about.
  std::mutex propertyMutex;
  GstTavroPortraitMode mode = GST_TAVRO_PORTRAIT_MODE_AUTO;
  tavro_rtc::FilterSettings switches = ElementSwitches();  // those with a property are read
  std::string config;
  std::string module;
  std::string backgroundImage;
  std::string backgroundVideo;
  guint backgroundColor = 0;  // 0xAARRGGBB; alpha 0: none
  tavro_host::CompositeSettings composite;
  guint warmupWaitMs = 0;
  guint serial = 1;

  // Streaming state: set_info and transform_frame run on the streaming
  // thread, start and stop while it is not running.
  tavro_host::ModuleSession session;
  guint appliedSerial = 0;
  std::string warnedConfig;  // the config value last warned about
  Output output = Output::kNone;
  GstVideoFormat inFormat = GST_VIDEO_FORMAT_I420;
  bool waitForWarmup = false;
  std::vector<uint8_t> mask;
  std::vector<uint8_t> scratch;  // a tight copy of a frame for re-sending
  std::vector<uint8_t> i420;     // an NV12 or YUY2 frame converted for the module
  tavro_host::Compositor compositor;
  cv::Mat picture;               // background-image as read
  std::string pictureLoaded;     // its path
  tavro_host::BackdropPicture backdrop;  // the picture at the frame's size
  BackgroundVideo video;                 // background-video, playing
  cv::Mat videoFrame;
};

}  // namespace

struct _GstTavroPortrait {
  GstVideoFilter parent;
  State* state;
};

G_DEFINE_TYPE(GstTavroPortrait, gst_tavro_portrait, GST_TYPE_VIDEO_FILTER)

enum {
  PROP_0,
  PROP_MODE,
  PROP_CONFIG,
  PROP_MODULE,
  PROP_BACKGROUND_IMAGE,
  PROP_WARMUP_WAIT,
  PROP_BLUR_STRENGTH,
  PROP_EDGE_FEATHER,
  PROP_MASK_THRESHOLD,
  PROP_MASK_SOFTNESS,
  PROP_BACKGROUND_COLOR,
  PROP_BACKGROUND_VIDEO,
  // Then one boolean property per "configs" member that names one, with the
  // id PROP_SETTING + its place in the list.
  PROP_SETTING,
};

// The "configs" member behind a property id, or nullptr.
static const tavro_rtc::FilterSettingInfo* SettingOf(guint id) {
  if (id < PROP_SETTING || id >= PROP_SETTING + tavro_rtc::kFilterSettingCount) return nullptr;
  const tavro_rtc::FilterSettingInfo& info = tavro_rtc::kFilterSettings[id - PROP_SETTING];
  return info.property ? &info : nullptr;
}

GType gst_tavro_portrait_mode_get_type(void) {
  static GType type = 0;
  static const GEnumValue values[] = {
      {GST_TAVRO_PORTRAIT_MODE_AUTO, "Whatever downstream accepts: the input's format "
       "with the background blurred (blur), then A420 alpha, then GRAY8 mask", "auto"},
      {GST_TAVRO_PORTRAIT_MODE_MASK, "GRAY8: the person mask alone", "mask"},
      {GST_TAVRO_PORTRAIT_MODE_ALPHA, "A420: the frame with the mask as alpha plane",
       "alpha"},
      {GST_TAVRO_PORTRAIT_MODE_BOKEH, "The input's format: the module's own bokeh",
       "bokeh"},
      {GST_TAVRO_PORTRAIT_MODE_REPLACE, "The input's format: the background replaced by "
       "background-image or background-color", "replace"},
      {GST_TAVRO_PORTRAIT_MODE_BLUR, "The input's format: the background blurred without "
       "the person's colours (background-color or background-image go over the blur)",
       "blur"},
      {0, nullptr, nullptr}};
  if (g_once_init_enter(&type)) {
    GType t = g_enum_register_static("GstTavroPortraitMode", values);
    g_once_init_leave(&type, t);
  }
  return type;
}

namespace {

#define TAVRO_SIZES "width = (int) [ 1, max ], height = (int) [ 1, max ], " \
                    "framerate = (fraction) [ 0, max ]"

#define TAVRO_IN_FORMATS "{ I420, NV12, YUY2 }"

GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("video/x-raw, format = (string) " TAVRO_IN_FORMATS ", " TAVRO_SIZES));
GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("video/x-raw, format = (string) { I420, NV12, YUY2, A420, GRAY8 }, "
                    TAVRO_SIZES));

const char* const kInFormats[] = {"I420", "NV12", "YUY2"};

State& StateOf(GstTavroPortrait* self) { return *self->state; }

// Output formats a mode allows for an input format, most wanted first: the
// picture modes keep the input's format.
std::vector<const char*> FormatsFor(GstTavroPortraitMode mode, const char* in) {
  switch (mode) {
    case GST_TAVRO_PORTRAIT_MODE_MASK: return {"GRAY8"};
    case GST_TAVRO_PORTRAIT_MODE_ALPHA: return {"A420"};
    case GST_TAVRO_PORTRAIT_MODE_BOKEH:
    case GST_TAVRO_PORTRAIT_MODE_REPLACE:
    case GST_TAVRO_PORTRAIT_MODE_BLUR: return {in};
    default: return {in, "A420", "GRAY8"};
  }
}

bool StructureAllows(const GstStructure* s, const char* format) {
  const GValue* v = gst_structure_get_value(s, "format");
  if (!v) return true;
  GValue want = G_VALUE_INIT;
  g_value_init(&want, G_TYPE_STRING);
  g_value_set_string(&want, format);
  const bool ok = gst_value_intersect(nullptr, v, &want);
  g_value_unset(&want);
  return ok;
}

GstCaps* TransformCaps(GstBaseTransform* trans, GstPadDirection direction,
                       GstCaps* caps, GstCaps* filter) {
  GstTavroPortrait* self = GST_TAVRO_PORTRAIT(trans);
  State& st = StateOf(self);
  GstTavroPortraitMode mode;
  {
    std::lock_guard<std::mutex> lock(st.propertyMutex);
    mode = st.mode;
  }

  GstCaps* result = gst_caps_new_empty();
  for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
    const GstStructure* s = gst_caps_get_structure(caps, i);
    for (const char* in : kInFormats) {
      const std::vector<const char*> formats = FormatsFor(mode, in);
      if (direction == GST_PAD_SINK) {
        if (!StructureAllows(s, in)) continue;
        // One structure per format, in order of preference; a new format
        // does not keep the input's chroma siting, the mask has no chroma.
        for (const char* format : formats) {
          GstStructure* out = gst_structure_copy(s);
          gst_structure_set(out, "format", G_TYPE_STRING, format, nullptr);
          if (std::strcmp(format, in) != 0)
            gst_structure_remove_fields(out, "chroma-site", nullptr);
          if (std::strcmp(format, "GRAY8") == 0)
            gst_structure_remove_fields(out, "colorimetry", nullptr);
          result = gst_caps_merge_structure(result, out);
        }
      } else {
        const bool any = std::any_of(formats.begin(), formats.end(), [s](const char* f) {
          return StructureAllows(s, f);
        });
        if (!any) continue;
        GstStructure* sink = gst_structure_copy(s);
        gst_structure_set(sink, "format", G_TYPE_STRING, in, nullptr);
        gst_structure_remove_fields(sink, "colorimetry", "chroma-site", nullptr);
        result = gst_caps_merge_structure(result, sink);
      }
    }
  }
  if (filter) {
    GstCaps* both = gst_caps_intersect_full(filter, result, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(result);
    result = both;
  }
  GST_DEBUG_OBJECT(self, "%s %" GST_PTR_FORMAT " -> %" GST_PTR_FORMAT,
                   direction == GST_PAD_SINK ? "sink" : "src", caps, result);
  return result;
}

// The "configs" JSON for the current properties and output; the raw config
// property follows and may override any member.
std::string ConfigsJson(const State& st, Output output) {
  tavro_rtc::FilterSettings values = st.switches;
  values.enable = true;
  values.bokeh = output == Output::kBokeh;
  std::string json = "{";
  for (const tavro_rtc::FilterSettingInfo& member : tavro_rtc::kFilterSettings) {
    // The session routes the module's diagnostics itself.
    if (member.field == &tavro_rtc::FilterSettings::diagnostics_to_log) continue;
    if (json.size() > 1) json += ",";
    json += std::string("\"") + member.name + "\":" + (values.*member.field ? "true" : "false");
  }
  return json + "}";
}

std::string FindModule(const std::string& given) {
  if (!given.empty()) return given;
  namespace fs = std::filesystem;
  std::vector<fs::path> candidates;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&gst_tavro_portrait_register), &info) &&
      info.dli_fname) {
    const fs::path dir = fs::path(info.dli_fname).parent_path();
    candidates.push_back(dir / kModuleFile);
    candidates.push_back(dir.parent_path() / kModuleFile);
    candidates.push_back(dir.parent_path() / "lib" / kModuleFile);
  }
  candidates.push_back(fs::path(TAVRO_INSTALL_LIBDIR) / kModuleFile);
  for (const fs::path& p : candidates) {
    std::error_code ec;
    if (fs::is_regular_file(p, ec)) return p.string();
  }
  return kModuleFile;  // left to the loader's search path
}

gboolean Start(GstBaseTransform* trans) {
  GstTavroPortrait* self = GST_TAVRO_PORTRAIT(trans);
  State& st = StateOf(self);
  std::string module;
  {
    std::lock_guard<std::mutex> lock(st.propertyMutex);
    module = FindModule(st.module);
    st.waitForWarmup = st.warmupWaitMs > 0;
  }
  std::string error;
  // The settings go to the module with the first frame, when the output is
  // known.
  if (!st.session.open(module, "{\"enable\":true}", &error)) {
    GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND,
                      ("Cannot load the segmentation module %s.", module.c_str()),
                      ("%s (set the \"module\" property to its path)", error.c_str()));
    return FALSE;
  }
  const std::string version = st.session.version();
  if (version.empty()) {
    st.session.close();
    GST_ELEMENT_ERROR(self, RESOURCE, FAILED,
                      ("%s is too old or not the segmentation module.", module.c_str()),
                      ("it exports no Get_Matting_Version"));
    return FALSE;
  }
  GST_INFO_OBJECT(self, "module %s, version %s", module.c_str(), version.c_str());
  st.appliedSerial = 0;
  return TRUE;
}

gboolean Stop(GstBaseTransform* trans) {
  State& st = StateOf(GST_TAVRO_PORTRAIT(trans));
  st.session.close();  // joins the module's threads
  st.video.close();
  st.output = Output::kNone;
  st.mask = std::vector<uint8_t>();
  st.scratch = std::vector<uint8_t>();
  return TRUE;
}

gboolean SinkEvent(GstBaseTransform* trans, GstEvent* event) {
  if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP) {
    // After a seek the next frame does not follow the last one: the module
    // starts its temporal state afresh when the frame size changes, so one
    // small frame goes through before the next real one.
    State& st = StateOf(GST_TAVRO_PORTRAIT(trans));
    if (st.session.isOpen()) {
      tavro_host::I420Image small(16, 16);
      std::fill(small.data.begin(), small.data.end(), 128);
      std::vector<uint8_t> ignored;
      st.session.process(small, ignored);
    }
  }
  return GST_BASE_TRANSFORM_CLASS(gst_tavro_portrait_parent_class)->sink_event(trans, event);
}

gboolean SetInfo(GstVideoFilter* filter, GstCaps* incaps, GstVideoInfo* in_info,
                 GstCaps* outcaps, GstVideoInfo* out_info) {
  GstTavroPortrait* self = GST_TAVRO_PORTRAIT(filter);
  State& st = StateOf(self);
  GstTavroPortraitMode mode;
  bool haveBackdrop;
  {
    std::lock_guard<std::mutex> lock(st.propertyMutex);
    mode = st.mode;
    haveBackdrop = !st.backgroundImage.empty() || !st.backgroundVideo.empty() ||
                   (st.backgroundColor >> 24) != 0;
  }
  const GstVideoFormat in = GST_VIDEO_INFO_FORMAT(in_info);
  const GstVideoFormat out = GST_VIDEO_INFO_FORMAT(out_info);
  Output output = Output::kNone;
  if (out == GST_VIDEO_FORMAT_GRAY8) output = Output::kMask;
  else if (out == GST_VIDEO_FORMAT_A420) output = Output::kAlpha;
  else if (out == in)
    output = mode == GST_TAVRO_PORTRAIT_MODE_BOKEH ? Output::kBokeh : Output::kComposite;
  if (output == Output::kNone) {
    GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, ("Unsupported output format."),
                      ("%" GST_PTR_FORMAT, outcaps));
    return FALSE;
  }
  if (mode == GST_TAVRO_PORTRAIT_MODE_REPLACE && !haveBackdrop) {
    GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS,
                      ("mode=replace needs a background-image, -video or -color."),
                      (nullptr));
    return FALSE;
  }
  GST_INFO_OBJECT(self, "%" GST_PTR_FORMAT " -> %" GST_PTR_FORMAT, incaps, outcaps);
  st.inFormat = in;
  if (output != st.output) {
    st.output = output;
    st.appliedSerial = 0;  // bokeh follows the output
  }
  return TRUE;
}

// The background picture at the frame's size, read when the path changed
// and scaled when the size changed. False with an element error when it
// cannot be read.
bool PrepareBackdrop(GstTavroPortrait* self, int width, int height) {
  State& st = StateOf(self);
  std::string path, video;
  {
    std::lock_guard<std::mutex> lock(st.propertyMutex);
    path = st.backgroundImage;
    video = st.backgroundVideo;
  }
  if (!video.empty()) {
    // A video wins over a picture: one of its pictures per frame.
    std::string error;
    if ((!st.video.isOpen() || st.video.path() != video || st.video.width() != width ||
         st.video.height() != height) &&
        !st.video.open(video, width, height, &error)) {
      GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ,
                        ("Cannot play the background video \"%s\".", video.c_str()),
                        ("%s", error.c_str()));
      return false;
    }
    if (!st.video.next(&st.videoFrame, &error)) {
      GST_ELEMENT_ERROR(self, RESOURCE, READ, ("%s", error.c_str()), (nullptr));
      return false;
    }
    st.backdrop.set(st.videoFrame, width, height);
    st.pictureLoaded = "";
    st.picture = cv::Mat();
    return true;
  }
  if (st.video.isOpen()) {
    st.video.close();
    st.backdrop.set(cv::Mat(), 0, 0);
  }
  if (path != st.pictureLoaded) {
    st.picture = cv::Mat();
    st.backdrop.set(cv::Mat(), 0, 0);
    std::string error;
    if (!path.empty() && !tavro_host::ReadPicture(path, &st.picture, &error)) {
      GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ,
                        ("Cannot read the background image \"%s\".", path.c_str()),
                        ("%s", error.c_str()));
      return false;
    }
    st.pictureLoaded = path;
  }
  if (!st.picture.empty() &&
      (st.backdrop.empty() || st.backdrop.width() != width || st.backdrop.height() != height))
    st.backdrop.set(st.picture, width, height);
  return true;
}

void WriteMask(const std::vector<uint8_t>& mask, int width, int height,
               GstVideoFrame* out, int plane) {
  const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(out, plane);
  auto* dst = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(out, plane));
  for (int y = 0; y < height; ++y)
    std::memcpy(dst + size_t(y) * stride, mask.data() + size_t(y) * width, width);
}

// The frame's I420 planes, chroma of (width + 1) / 2 x (height + 1) / 2 as
// GStreamer lays them out, for the compositor.
tavro_host::PlanarFrame PlanarOf(const tavro_host::PlaneSet& planes) {
  tavro_host::PlanarFrame frame;
  const int cw = (planes.width + 1) / 2, ch = (planes.height + 1) / 2;
  for (int p = 0; p < 3; ++p)
    frame.plane[p] = tavro_host::Plane{planes.data[p], p ? cw : planes.width,
                                       p ? ch : planes.height, planes.stride[p]};
  return frame;
}

// An NV12 or YUY2 frame as I420 planes in st.i420, for the module and the
// compositor.
tavro_host::PlaneSet ConvertToI420(State& st, GstVideoFrame* in) {
  tavro_host::PlaneSet planes;
  const int w = GST_VIDEO_FRAME_WIDTH(in), h = GST_VIDEO_FRAME_HEIGHT(in);
  const int cw = (w + 1) / 2, ch = (h + 1) / 2;
  st.i420.resize(size_t(w) * h + 2 * size_t(cw) * ch);
  planes.width = w;
  planes.height = h;
  planes.data[0] = st.i420.data();
  planes.data[1] = planes.data[0] + size_t(w) * h;
  planes.data[2] = planes.data[1] + size_t(cw) * ch;
  planes.stride[0] = w;
  planes.stride[1] = planes.stride[2] = cw;
  const auto* p0 = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(in, 0));
  const int s0 = GST_VIDEO_FRAME_PLANE_STRIDE(in, 0);
  if (GST_VIDEO_FRAME_FORMAT(in) == GST_VIDEO_FORMAT_NV12) {
    libyuv::NV12ToI420(p0, s0, static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(in, 1)),
                       GST_VIDEO_FRAME_PLANE_STRIDE(in, 1), planes.data[0], planes.stride[0],
                       planes.data[1], planes.stride[1], planes.data[2], planes.stride[2], w, h);
  } else {
    libyuv::YUY2ToI420(p0, s0, planes.data[0], planes.stride[0], planes.data[1],
                       planes.stride[1], planes.data[2], planes.stride[2], w, h);
  }
  return planes;
}

// The I420 planes back into the NV12 or YUY2 output frame.
void ConvertFromI420(const tavro_host::PlaneSet& planes, GstVideoFrame* out) {
  const int w = planes.width, h = planes.height;
  auto* p0 = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(out, 0));
  const int s0 = GST_VIDEO_FRAME_PLANE_STRIDE(out, 0);
  if (GST_VIDEO_FRAME_FORMAT(out) == GST_VIDEO_FORMAT_NV12) {
    libyuv::I420ToNV12(planes.data[0], planes.stride[0], planes.data[1], planes.stride[1],
                       planes.data[2], planes.stride[2], p0, s0,
                       static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(out, 1)),
                       GST_VIDEO_FRAME_PLANE_STRIDE(out, 1), w, h);
  } else {
    libyuv::I420ToYUY2(planes.data[0], planes.stride[0], planes.data[1], planes.stride[1],
                       planes.data[2], planes.stride[2], p0, s0, w, h);
  }
}

void CopyPlaneFrom(const tavro_host::PlaneSet& planes, int p, GstVideoFrame* out) {
  const int w = p ? (planes.width + 1) / 2 : planes.width;
  const int h = p ? (planes.height + 1) / 2 : planes.height;
  const int os = GST_VIDEO_FRAME_PLANE_STRIDE(out, p);
  auto* dst = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(out, p));
  for (int y = 0; y < h; ++y)
    std::memcpy(dst + size_t(y) * os, planes.data[p] + size_t(y) * planes.stride[p], w);
}

tavro_host::PlaneSet PlanesOf(GstVideoFrame* frame) {
  tavro_host::PlaneSet planes;
  planes.width = GST_VIDEO_FRAME_WIDTH(frame);
  planes.height = GST_VIDEO_FRAME_HEIGHT(frame);
  for (int p = 0; p < 3; ++p) {
    planes.data[p] = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(frame, p));
    planes.stride[p] = GST_VIDEO_FRAME_PLANE_STRIDE(frame, p);
  }
  return planes;
}

// Hands changed properties to the module before the frame.
void ApplySettings(GstTavroPortrait* self) {
  State& st = StateOf(self);
  std::string json, raw;
  {
    std::lock_guard<std::mutex> lock(st.propertyMutex);
    if (st.appliedSerial == st.serial) return;
    st.appliedSerial = st.serial;
    json = ConfigsJson(st, st.output);
    raw = st.config;
  }
  GST_DEBUG_OBJECT(self, "configs %s %s", json.c_str(), raw.c_str());
  st.session.setConfigs(json);
  if (raw.empty()) return;
  // The module ignores what it cannot use without a word; say what it is
  // (once per change of the property), and hand it over all the same.
  const std::string problem = tavro_host::ConfigsProblem(raw);
  if (!problem.empty() && raw != st.warnedConfig) {
    GST_ELEMENT_WARNING(self, LIBRARY, SETTINGS, ("config: %s", problem.c_str()),
                        ("config=%s", raw.c_str()));
  }
  st.warnedConfig = problem.empty() ? "" : raw;
  st.session.setConfigs(raw);
}

// Runs planes through the module. On the first frame with warmup-wait set,
// a copy of the frame is re-sent until the network is warm, so that the
// first frame already gets a real mask.
int32_t RunModule(GstTavroPortrait* self, const tavro_host::PlaneSet& planes, bool writeBack) {
  State& st = StateOf(self);
  if (!st.waitForWarmup) return st.session.process(planes, writeBack, st.mask);
  st.waitForWarmup = false;
  int waitMs;
  {
    std::lock_guard<std::mutex> lock(st.propertyMutex);
    waitMs = int(std::min<guint>(st.warmupWaitMs, G_MAXINT));
  }
  // Keep the untouched frame: with bokeh the module writes into the planes.
  const int w = planes.width, h = planes.height;
  const int widths[3] = {w, w / 2, w / 2}, heights[3] = {h, h / 2, h / 2};
  st.scratch.clear();
  for (int p = 0; p < 3; ++p)
    for (int y = 0; y < heights[p]; ++y)
      st.scratch.insert(st.scratch.end(), planes.data[p] + size_t(y) * planes.stride[p],
                        planes.data[p] + size_t(y) * planes.stride[p] + widths[p]);
  const auto resend = [&](std::vector<uint8_t>& mask) {
    const uint8_t* src = st.scratch.data();
    for (int p = 0; p < 3; ++p)
      for (int y = 0; y < heights[p]; ++y, src += widths[p])
        std::memcpy(planes.data[p] + size_t(y) * planes.stride[p], src, widths[p]);
    return st.session.process(planes, writeBack, mask);
  };
  const int32_t first = st.session.process(planes, writeBack, st.mask);
  return tavro_host::WaitForWarmup(resend, waitMs, st.mask, first);
}

// The frame over its new background, in place, once the network has
// answered: until then the frame passes unchanged rather than showing the
// background alone.
void Composite(GstTavroPortrait* self, const tavro_host::PlaneSet& planes) {
  State& st = StateOf(self);
  const size_t area = size_t(planes.width) * planes.height;
  if (st.mask.size() != area || !st.session.sawMask()) return;
  tavro_host::Backdrop backdrop;
  tavro_host::CompositeSettings settings;
  {
    std::lock_guard<std::mutex> lock(st.propertyMutex);
    tavro_host::ArgbToYuva(st.backgroundColor, backdrop.colour);
    settings = st.composite;
  }
  if (!st.backdrop.empty()) {
    backdrop.picture = &st.backdrop.planes();
    backdrop.pictureAlpha = st.backdrop.alpha();
  }
  st.compositor.setSettings(settings);
  st.compositor.composite(PlanarOf(planes), st.mask.data(), planes.width, backdrop);
}

GstFlowReturn TransformFrame(GstVideoFilter* filter, GstVideoFrame* in, GstVideoFrame* out) {
  GstTavroPortrait* self = GST_TAVRO_PORTRAIT(filter);
  State& st = StateOf(self);
  const int w = GST_VIDEO_FRAME_WIDTH(in), h = GST_VIDEO_FRAME_HEIGHT(in);
  const size_t area = size_t(w) * h;
  const bool i420 = GST_VIDEO_FRAME_FORMAT(in) == GST_VIDEO_FORMAT_I420;
  ApplySettings(self);

  switch (st.output) {
    case Output::kBokeh:
    case Output::kComposite: {
      if (st.output == Output::kComposite && !PrepareBackdrop(self, w, h)) return GST_FLOW_ERROR;
      // Both work in place: on the outgoing frame, or on the converted copy.
      tavro_host::PlaneSet planes;
      if (i420) {
        gst_video_frame_copy(out, in);
        planes = PlanesOf(out);
      } else {
        planes = ConvertToI420(st, in);
      }
      if (st.output == Output::kBokeh) {
        RunModule(self, planes, true);
      } else {
        RunModule(self, planes, false);
        Composite(self, planes);
      }
      if (!i420) ConvertFromI420(planes, out);
      break;
    }
    case Output::kAlpha:
    case Output::kMask: {
      const tavro_host::PlaneSet planes = i420 ? PlanesOf(in) : ConvertToI420(st, in);
      RunModule(self, planes, false);
      // No mask attached means the module was switched off by "config":
      // everything is kept.
      if (st.mask.size() != area) st.mask.assign(area, 255);
      if (st.output == Output::kAlpha) {
        for (int p = 0; p < 3; ++p) CopyPlaneFrom(planes, p, out);
        WriteMask(st.mask, w, h, out, 3);
      } else {
        WriteMask(st.mask, w, h, out, 0);
      }
      break;
    }
    case Output::kNone:
      return GST_FLOW_NOT_NEGOTIATED;
  }
  return GST_FLOW_OK;
}

// Stores property `id`; false when the element has no such property.
bool StoreProperty(State& st, guint id, const GValue* value, bool* renegotiate) {
  switch (id) {
    case PROP_MODE: {
      const auto mode = static_cast<GstTavroPortraitMode>(g_value_get_enum(value));
      *renegotiate = mode != st.mode;
      st.mode = mode;
      break;
    }
    case PROP_CONFIG: st.config = g_value_get_string(value) ? g_value_get_string(value) : ""; break;
    case PROP_MODULE: st.module = g_value_get_string(value) ? g_value_get_string(value) : ""; break;
    case PROP_BACKGROUND_IMAGE:
      st.backgroundImage = g_value_get_string(value) ? g_value_get_string(value) : "";
      break;
    case PROP_WARMUP_WAIT: st.warmupWaitMs = g_value_get_uint(value); break;
    case PROP_BLUR_STRENGTH: st.composite.blurStrength = int(g_value_get_uint(value)); break;
    case PROP_EDGE_FEATHER: st.composite.edgeFeather = int(g_value_get_uint(value)); break;
    case PROP_MASK_THRESHOLD: st.composite.maskThreshold = int(g_value_get_uint(value)); break;
    case PROP_MASK_SOFTNESS: st.composite.maskSoftness = int(g_value_get_uint(value)); break;
    case PROP_BACKGROUND_COLOR: st.backgroundColor = g_value_get_uint(value); break;
    case PROP_BACKGROUND_VIDEO:
      st.backgroundVideo = g_value_get_string(value) ? g_value_get_string(value) : "";
      break;
    default:
      if (const tavro_rtc::FilterSettingInfo* setting = SettingOf(id)) {
        st.switches.*setting->field = g_value_get_boolean(value);
        break;
      }
      return false;
  }
  return true;
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  GstTavroPortrait* self = GST_TAVRO_PORTRAIT(object);
  State& st = StateOf(self);
  bool renegotiate = false;
  bool known;
  {
    std::lock_guard<std::mutex> lock(st.propertyMutex);
    known = StoreProperty(st, id, value, &renegotiate);
    if (known) ++st.serial;
  }
  if (!known) {
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    return;
  }
  if (renegotiate) gst_base_transform_reconfigure_src(GST_BASE_TRANSFORM(self));
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  GstTavroPortrait* self = GST_TAVRO_PORTRAIT(object);
  State& st = StateOf(self);
  std::lock_guard<std::mutex> lock(st.propertyMutex);
  switch (id) {
    case PROP_MODE: g_value_set_enum(value, st.mode); break;
    case PROP_CONFIG: g_value_set_string(value, st.config.empty() ? nullptr : st.config.c_str()); break;
    case PROP_MODULE: g_value_set_string(value, st.module.empty() ? nullptr : st.module.c_str()); break;
    case PROP_BACKGROUND_IMAGE:
      g_value_set_string(value, st.backgroundImage.empty() ? nullptr : st.backgroundImage.c_str());
      break;
    case PROP_WARMUP_WAIT: g_value_set_uint(value, st.warmupWaitMs); break;
    case PROP_BLUR_STRENGTH: g_value_set_uint(value, guint(st.composite.blurStrength)); break;
    case PROP_EDGE_FEATHER: g_value_set_uint(value, guint(st.composite.edgeFeather)); break;
    case PROP_MASK_THRESHOLD: g_value_set_uint(value, guint(st.composite.maskThreshold)); break;
    case PROP_MASK_SOFTNESS: g_value_set_uint(value, guint(st.composite.maskSoftness)); break;
    case PROP_BACKGROUND_COLOR: g_value_set_uint(value, st.backgroundColor); break;
    case PROP_BACKGROUND_VIDEO:
      g_value_set_string(value, st.backgroundVideo.empty() ? nullptr : st.backgroundVideo.c_str());
      break;
    default:
      if (const tavro_rtc::FilterSettingInfo* setting = SettingOf(id))
        g_value_set_boolean(value, st.switches.*setting->field);
      else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
      break;
  }
}

void Finalize(GObject* object) {
  GstTavroPortrait* self = GST_TAVRO_PORTRAIT(object);
  delete self->state;
  self->state = nullptr;
  G_OBJECT_CLASS(gst_tavro_portrait_parent_class)->finalize(object);
}

}  // namespace

static void gst_tavro_portrait_init(GstTavroPortrait* self) { self->state = new State(); }

static void InstallCompositeProperties(GObjectClass* gobject, GParamFlags flags);

// The element's properties: the mode, one boolean per "configs" member that
// names a property, the raw config, the module and the backgrounds; then
// the compositing settings.
static void InstallProperties(GObjectClass* gobject) {
  const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                              GST_PARAM_MUTABLE_PLAYING);
  g_object_class_install_property(
      gobject, PROP_MODE,
      g_param_spec_enum("mode", "Mode", "What the element outputs", GST_TYPE_TAVRO_PORTRAIT_MODE,
                        GST_TAVRO_PORTRAIT_MODE_AUTO, flags));
  for (guint i = 0; i < tavro_rtc::kFilterSettingCount; ++i) {
    const tavro_rtc::FilterSettingInfo& member = tavro_rtc::kFilterSettings[i];
    if (!member.property) continue;
    g_object_class_install_property(
        gobject, PROP_SETTING + i,
        g_param_spec_boolean(member.property, member.property, member.meaning,
                             ElementSwitches().*member.field, flags));
  }
  g_object_class_install_property(
      gobject, PROP_CONFIG,
      g_param_spec_string("config", "Config",
                          "Raw \"configs\" JSON for the module, applied after the other "
                          "properties (it may override them)",
                          nullptr, flags));
  g_object_class_install_property(
      gobject, PROP_MODULE,
      g_param_spec_string("module", "Module",
                          "Path of libtavro_segmentation_extension.so (default: beside the "
                          "plugin, then the install location); read when the element starts",
                          nullptr, flags));
  g_object_class_install_property(
      gobject, PROP_BACKGROUND_IMAGE,
      g_param_spec_string("background-image", "Background image",
                          "Picture put behind the person (blur, replace and auto): scaled "
                          "to the frame; its transparency shows the blur",
                          nullptr, flags));
  g_object_class_install_property(
      gobject, PROP_BACKGROUND_VIDEO,
      g_param_spec_string("background-video", "Background video",
                          "Video file played behind the person (blur, replace and auto), one "
                          "of its pictures per frame, from the start again at its end; scaled "
                          "to the frame; wins over background-image",
                          nullptr, flags));
  InstallCompositeProperties(gobject, flags);
}

// The compositing settings of mode=blur and replace, and the warm-up wait.
static void InstallCompositeProperties(GObjectClass* gobject, GParamFlags flags) {
  const tavro_host::CompositeSettings defaults;
  g_object_class_install_property(
      gobject, PROP_BACKGROUND_COLOR,
      g_param_spec_uint("background-color", "Background colour",
                        "Colour put behind the person as 0xAARRGGBB (blur, replace and "
                        "auto); AA below ff lets the blur show through, 0 = none",
                        0, G_MAXUINT, 0, flags));
  g_object_class_install_property(
      gobject, PROP_BLUR_STRENGTH,
      g_param_spec_uint("blur-strength", "Blur strength",
                        "How strongly mode=blur blurs the background: sigma is this many "
                        "hundredths of a twelfth of the frame height",
                        0, 100, guint(defaults.blurStrength), flags));
  g_object_class_install_property(
      gobject, PROP_EDGE_FEATHER,
      g_param_spec_uint("edge-feather", "Edge feather",
                        "Soften the person's edge over this many pixels (blur, replace)",
                        0, 255, guint(defaults.edgeFeather), flags));
  g_object_class_install_property(
      gobject, PROP_MASK_THRESHOLD,
      g_param_spec_uint("mask-threshold", "Mask threshold",
                        "Mask value (0-255) where the person begins (blur, replace)",
                        0, 255, guint(defaults.maskThreshold), flags));
  g_object_class_install_property(
      gobject, PROP_MASK_SOFTNESS,
      g_param_spec_uint("mask-softness", "Mask softness",
                        "Width of the mask range over which the person fades in around "
                        "mask-threshold (0 = a hard cut)",
                        0, 255, guint(defaults.maskSoftness), flags));
  g_object_class_install_property(
      gobject, PROP_WARMUP_WAIT,
      g_param_spec_uint("warmup-wait", "Warm-up wait",
                        "Hold the first frame up to this many ms until the network is warm, "
                        "so it gets a real mask (for files; 0 for live sources)",
                        0, 60000, 0, flags));
}

static void gst_tavro_portrait_class_init(GstTavroPortraitClass* klass) {
  GObjectClass* gobject = G_OBJECT_CLASS(klass);
  GstElementClass* element = GST_ELEMENT_CLASS(klass);
  GstBaseTransformClass* trans = GST_BASE_TRANSFORM_CLASS(klass);
  GstVideoFilterClass* video = GST_VIDEO_FILTER_CLASS(klass);

  gobject->set_property = SetProperty;
  gobject->get_property = GetProperty;
  gobject->finalize = Finalize;
  InstallProperties(gobject);

  gst_element_class_set_static_metadata(
      element, "Tavro portrait segmentation", "Filter/Effect/Video",
      "Finds the person in each frame: blurs or replaces the background, or gives the "
      "mask as alpha or grey",
      "Tavro");
  gst_element_class_add_static_pad_template(element, &sink_template);
  gst_element_class_add_static_pad_template(element, &src_template);

  trans->transform_caps = TransformCaps;
  trans->start = Start;
  trans->stop = Stop;
  trans->sink_event = SinkEvent;
  trans->passthrough_on_same_caps = FALSE;
  video->set_info = SetInfo;
  video->transform_frame = TransformFrame;

  GST_DEBUG_CATEGORY_INIT(tavro_portrait_debug, "tavroportrait", 0,
                          "Tavro portrait segmentation");
  // The module's lines (its sessions route them to the host's log) go to
  // GST_DEBUG, so the element's standard output stays clean for the video:
  // its diagnostics at debug level, its set-up messages at info level.
  tavro_rtc::SetLogHandler([](int32_t level, const std::string& text) {
    if (level == tavro_rtc::kLogDiagnostic)
      GST_CAT_DEBUG(tavro_portrait_debug, "%s", text.c_str());
    else
      GST_CAT_INFO(tavro_portrait_debug, "%s", text.c_str());
  });
  gst_type_mark_as_plugin_api(GST_TYPE_TAVRO_PORTRAIT_MODE, static_cast<GstPluginAPIFlags>(0));
}

gboolean gst_tavro_portrait_register(GstPlugin* plugin) {
  return gst_element_register(plugin, "tavroportrait", GST_RANK_NONE, GST_TYPE_TAVRO_PORTRAIT);
}
