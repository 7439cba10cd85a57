#include "host/gst/tavro_portrait.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "extension/blend_i420.h"
#include "host/i420_image.h"
#include "host/module_session.h"

GST_DEBUG_CATEGORY_STATIC(tavro_portrait_debug);
#define GST_CAT_DEFAULT tavro_portrait_debug

namespace {

constexpr char kModuleFile[] = "libtavro_segmentation_extension.so";

// What the element gives downstream, fixed by the negotiated caps.
enum class Output { kNone, kMask, kAlpha, kBokeh, kReplace };

// Everything C++ lives here; the GObject instance holds a pointer to it.
struct State {
  // Properties, under propertyMutex (a std::mutex rather than the object
  // lock, whose futex the race detector cannot see). serial counts changes
  // that the module must hear about.
  std::mutex propertyMutex;
  GstTavroPortraitMode mode = GST_TAVRO_PORTRAIT_MODE_AUTO;
  bool opticalFlow = true;
  bool mediaFilter = false;
  bool preferEfficiency = false;
  std::string config;
  std::string module;
  std::string backgroundImage;
  guint warmupWaitMs = 0;
  guint serial = 1;

  // Streaming state: set_info and transform_frame run on the streaming
  // thread, start and stop while it is not running.
  tavro_host::ModuleSession session;
  guint appliedSerial = 0;
  Output output = Output::kNone;
  bool waitForWarmup = false;
  std::vector<uint8_t> mask;
  std::vector<uint8_t> scratch;  // a tight copy of a frame for re-sending
  tavro_host::I420Image background;
  std::string backgroundLoaded;  // path the background was made from
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
  PROP_OPTICAL_FLOW,
  PROP_MEDIA_FILTER,
  PROP_PREFER_EFFICIENCY,
  PROP_CONFIG,
  PROP_MODULE,
  PROP_BACKGROUND_IMAGE,
  PROP_WARMUP_WAIT,
};

GType gst_tavro_portrait_mode_get_type(void) {
  static GType type = 0;
  static const GEnumValue values[] = {
      {GST_TAVRO_PORTRAIT_MODE_AUTO, "Whatever downstream accepts: I420 bokeh (or "
       "replace with background-image), then A420 alpha, then GRAY8 mask", "auto"},
      {GST_TAVRO_PORTRAIT_MODE_MASK, "GRAY8: the person mask alone", "mask"},
      {GST_TAVRO_PORTRAIT_MODE_ALPHA, "A420: the frame with the mask as alpha plane",
       "alpha"},
      {GST_TAVRO_PORTRAIT_MODE_BOKEH, "I420: the background blurred", "bokeh"},
      {GST_TAVRO_PORTRAIT_MODE_REPLACE, "I420: the background replaced by "
       "background-image", "replace"},
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

GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("video/x-raw, format = (string) I420, " TAVRO_SIZES));
GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("video/x-raw, format = (string) { I420, A420, GRAY8 }, " TAVRO_SIZES));

State& StateOf(GstTavroPortrait* self) { return *self->state; }

// Output formats a mode allows, most wanted first.
std::vector<const char*> FormatsFor(GstTavroPortraitMode mode) {
  switch (mode) {
    case GST_TAVRO_PORTRAIT_MODE_MASK: return {"GRAY8"};
    case GST_TAVRO_PORTRAIT_MODE_ALPHA: return {"A420"};
    case GST_TAVRO_PORTRAIT_MODE_BOKEH:
    case GST_TAVRO_PORTRAIT_MODE_REPLACE: return {"I420"};
    default: return {"I420", "A420", "GRAY8"};
  }
}

bool StructureAllows(const GstStructure* s, const char* format) {
  const GValue* v = gst_structure_get_value(s, "format");
  if (!v) return true;
  GValue want = G_VALUE_INIT;
  g_value_init(&want, G_TYPE_STRING);
  g_value_set_string(&want, format);
  const bool ok = gst_value_can_intersect(v, &want);
  g_value_unset(&want);
  return ok;
}

GstCaps* TransformCaps(GstBaseTransform* trans, GstPadDirection direction,
                       GstCaps* caps, GstCaps* filter) {
  GstTavroPortrait* self = GST_TAVRO_PORTRAIT(trans);
  StateOf(self).propertyMutex.lock();
  const std::vector<const char*> formats = FormatsFor(StateOf(self).mode);
  StateOf(self).propertyMutex.unlock();

  GstCaps* result = gst_caps_new_empty();
  for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
    const GstStructure* s = gst_caps_get_structure(caps, i);
    if (direction == GST_PAD_SINK) {
      // One structure per format, in order of preference; the mask has no
      // chroma to describe.
      for (const char* format : formats) {
        GstStructure* out = gst_structure_copy(s);
        gst_structure_set(out, "format", G_TYPE_STRING, format, nullptr);
        if (std::strcmp(format, "GRAY8") == 0)
          gst_structure_remove_fields(out, "colorimetry", "chroma-site", nullptr);
        result = gst_caps_merge_structure(result, out);
      }
    } else {
      const bool any = std::any_of(formats.begin(), formats.end(), [s](const char* f) {
        return StructureAllows(s, f);
      });
      if (!any) continue;
      GstStructure* in = gst_structure_copy(s);
      gst_structure_set(in, "format", G_TYPE_STRING, "I420", nullptr);
      gst_structure_remove_fields(in, "colorimetry", "chroma-site", nullptr);
      result = gst_caps_merge_structure(result, in);
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
  const auto b = [](bool v) { return v ? "true" : "false"; };
  std::string json = std::string("{\"enable\":true,\"enable_media_filter\":") +
                     b(st.mediaFilter) + ",\"enable_optical_flow\":" + b(st.opticalFlow) +
                     ",\"prefer_efficiency\":" + b(st.preferEfficiency) +
                     ",\"bokeh\":" + b(output == Output::kBokeh) + "}";
  return json;
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
  StateOf(self).propertyMutex.lock();
  const std::string module = FindModule(st.module);
  st.waitForWarmup = st.warmupWaitMs > 0;
  StateOf(self).propertyMutex.unlock();
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
  StateOf(self).propertyMutex.lock();
  const GstTavroPortraitMode mode = st.mode;
  const bool haveImage = !st.backgroundImage.empty();
  StateOf(self).propertyMutex.unlock();
  Output output = Output::kNone;
  switch (GST_VIDEO_INFO_FORMAT(out_info)) {
    case GST_VIDEO_FORMAT_GRAY8: output = Output::kMask; break;
    case GST_VIDEO_FORMAT_A420: output = Output::kAlpha; break;
    case GST_VIDEO_FORMAT_I420:
      output = mode == GST_TAVRO_PORTRAIT_MODE_REPLACE ||
                       (mode == GST_TAVRO_PORTRAIT_MODE_AUTO && haveImage)
                   ? Output::kReplace
                   : Output::kBokeh;
      break;
    default: break;
  }
  if (output == Output::kNone) {
    GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, ("Unsupported output format."),
                      ("%" GST_PTR_FORMAT, outcaps));
    return FALSE;
  }
  if (output == Output::kReplace && !haveImage) {
    GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS,
                      ("mode=replace needs a background-image."), (nullptr));
    return FALSE;
  }
  GST_INFO_OBJECT(self, "%" GST_PTR_FORMAT " -> %" GST_PTR_FORMAT, incaps, outcaps);
  if (output != st.output) {
    st.output = output;
    st.appliedSerial = 0;  // bokeh follows the output
  }
  return TRUE;
}

// The background picture at the frame's size, loaded when the path or the
// size changed. False with an element error when it cannot be read.
bool PrepareBackground(GstTavroPortrait* self, int width, int height) {
  State& st = StateOf(self);
  StateOf(self).propertyMutex.lock();
  const std::string path = st.backgroundImage;
  StateOf(self).propertyMutex.unlock();
  if (path == st.backgroundLoaded && st.background.width == width &&
      st.background.height == height)
    return true;
  const cv::Mat picture = cv::imread(path, cv::IMREAD_COLOR);
  if (picture.empty()) {
    GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ,
                      ("Cannot read the background image \"%s\".", path.c_str()), (nullptr));
    return false;
  }
  cv::Mat scaled;
  cv::resize(picture, scaled, cv::Size(width, height), 0, 0, cv::INTER_AREA);
  st.background = tavro_host::BgrToI420(scaled);
  st.backgroundLoaded = path;
  return true;
}

void CopyPlane(const GstVideoFrame* in, int inPlane, GstVideoFrame* out, int outPlane) {
  const int w = GST_VIDEO_FRAME_COMP_WIDTH(in, inPlane);
  const int h = GST_VIDEO_FRAME_COMP_HEIGHT(in, inPlane);
  const int is = GST_VIDEO_FRAME_PLANE_STRIDE(in, inPlane);
  const int os = GST_VIDEO_FRAME_PLANE_STRIDE(out, outPlane);
  const auto* src = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(in, inPlane));
  auto* dst = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(out, outPlane));
  for (int y = 0; y < h; ++y) std::memcpy(dst + size_t(y) * os, src + size_t(y) * is, w);
}

void WriteMask(const std::vector<uint8_t>& mask, int width, int height,
               GstVideoFrame* out, int plane) {
  const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(out, plane);
  auto* dst = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(out, plane));
  for (int y = 0; y < height; ++y)
    std::memcpy(dst + size_t(y) * stride, mask.data() + size_t(y) * width, width);
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
  StateOf(self).propertyMutex.lock();
  if (st.appliedSerial == st.serial) {
    StateOf(self).propertyMutex.unlock();
    return;
  }
  st.appliedSerial = st.serial;
  const std::string json = ConfigsJson(st, st.output);
  const std::string raw = st.config;
  StateOf(self).propertyMutex.unlock();
  GST_DEBUG_OBJECT(self, "configs %s %s", json.c_str(), raw.c_str());
  st.session.setConfigs(json);
  if (!raw.empty()) st.session.setConfigs(raw);
}

// Runs planes through the module. On the first frame with warmup-wait set,
// a copy of the frame is re-sent until the network is warm, so that the
// first frame already gets a real mask.
int32_t RunModule(GstTavroPortrait* self, const tavro_host::PlaneSet& planes, bool writeBack) {
  State& st = StateOf(self);
  if (!st.waitForWarmup) return st.session.process(planes, writeBack, st.mask);
  st.waitForWarmup = false;
  StateOf(self).propertyMutex.lock();
  const int waitMs = int(std::min<guint>(st.warmupWaitMs, G_MAXINT));
  StateOf(self).propertyMutex.unlock();
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

GstFlowReturn TransformFrame(GstVideoFilter* filter, GstVideoFrame* in, GstVideoFrame* out) {
  GstTavroPortrait* self = GST_TAVRO_PORTRAIT(filter);
  State& st = StateOf(self);
  const int w = GST_VIDEO_FRAME_WIDTH(in), h = GST_VIDEO_FRAME_HEIGHT(in);
  const size_t area = size_t(w) * h;
  ApplySettings(self);

  switch (st.output) {
    case Output::kBokeh: {
      // The module blurs in place: it works on the outgoing frame.
      gst_video_frame_copy(out, in);
      RunModule(self, PlanesOf(out), true);
      break;
    }
    case Output::kAlpha:
    case Output::kMask: {
      RunModule(self, PlanesOf(in), false);
      // No mask attached means the module was switched off by "config":
      // everything is kept.
      if (st.mask.size() != area) st.mask.assign(area, 255);
      if (st.output == Output::kAlpha) {
        for (int p = 0; p < 3; ++p) CopyPlane(in, p, out, p);
        WriteMask(st.mask, w, h, out, 3);
      } else {
        WriteMask(st.mask, w, h, out, 0);
      }
      break;
    }
    case Output::kReplace: {
      if (!PrepareBackground(self, w, h)) return GST_FLOW_ERROR;
      RunModule(self, PlanesOf(in), false);
      // Until the network has answered once, the frame passes unchanged
      // rather than showing the picture alone.
      if (st.mask.size() != area || !st.session.sawMask()) {
        gst_video_frame_copy(out, in);
        break;
      }
      // The blend covers (w / 2) x (h / 2) chroma samples; an odd last
      // column or row keeps the frame's own.
      if (w % 2 || h % 2)
        for (int p = 1; p < 3; ++p) CopyPlane(in, p, out, p);
      tavro_host::PlaneSet src = PlanesOf(in), dst = PlanesOf(out);
      tavro_host::I420Image& bg = st.background;
      tavro::blendI420(src.data[0], src.stride[0], src.data[1], src.stride[1], src.data[2],
                       src.stride[2], bg.y(), bg.width, bg.u(), bg.chromaWidth(), bg.v(),
                       bg.chromaWidth(), st.mask.data(), w, dst.data[0], dst.stride[0],
                       dst.data[1], dst.stride[1], dst.data[2], dst.stride[2], w, h);
      break;
    }
    case Output::kNone:
      return GST_FLOW_NOT_NEGOTIATED;
  }
  return GST_FLOW_OK;
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  GstTavroPortrait* self = GST_TAVRO_PORTRAIT(object);
  State& st = StateOf(self);
  bool renegotiate = false;
  StateOf(self).propertyMutex.lock();
  switch (id) {
    case PROP_MODE: {
      const auto mode = static_cast<GstTavroPortraitMode>(g_value_get_enum(value));
      renegotiate = mode != st.mode;
      st.mode = mode;
      break;
    }
    case PROP_OPTICAL_FLOW: st.opticalFlow = g_value_get_boolean(value); break;
    case PROP_MEDIA_FILTER: st.mediaFilter = g_value_get_boolean(value); break;
    case PROP_PREFER_EFFICIENCY: st.preferEfficiency = g_value_get_boolean(value); break;
    case PROP_CONFIG: st.config = g_value_get_string(value) ? g_value_get_string(value) : ""; break;
    case PROP_MODULE: st.module = g_value_get_string(value) ? g_value_get_string(value) : ""; break;
    case PROP_BACKGROUND_IMAGE: {
      const std::string path = g_value_get_string(value) ? g_value_get_string(value) : "";
      // In auto mode the image decides between bokeh and replacement.
      renegotiate = st.mode == GST_TAVRO_PORTRAIT_MODE_AUTO && path.empty() != st.backgroundImage.empty();
      st.backgroundImage = path;
      break;
    }
    case PROP_WARMUP_WAIT: st.warmupWaitMs = g_value_get_uint(value); break;
    default:
      StateOf(self).propertyMutex.unlock();
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
      return;
  }
  ++st.serial;
  StateOf(self).propertyMutex.unlock();
  if (renegotiate) gst_base_transform_reconfigure_src(GST_BASE_TRANSFORM(self));
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  GstTavroPortrait* self = GST_TAVRO_PORTRAIT(object);
  State& st = StateOf(self);
  StateOf(self).propertyMutex.lock();
  switch (id) {
    case PROP_MODE: g_value_set_enum(value, st.mode); break;
    case PROP_OPTICAL_FLOW: g_value_set_boolean(value, st.opticalFlow); break;
    case PROP_MEDIA_FILTER: g_value_set_boolean(value, st.mediaFilter); break;
    case PROP_PREFER_EFFICIENCY: g_value_set_boolean(value, st.preferEfficiency); break;
    case PROP_CONFIG: g_value_set_string(value, st.config.empty() ? nullptr : st.config.c_str()); break;
    case PROP_MODULE: g_value_set_string(value, st.module.empty() ? nullptr : st.module.c_str()); break;
    case PROP_BACKGROUND_IMAGE:
      g_value_set_string(value, st.backgroundImage.empty() ? nullptr : st.backgroundImage.c_str());
      break;
    case PROP_WARMUP_WAIT: g_value_set_uint(value, st.warmupWaitMs); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
  }
  StateOf(self).propertyMutex.unlock();
}

void Finalize(GObject* object) {
  GstTavroPortrait* self = GST_TAVRO_PORTRAIT(object);
  delete self->state;
  self->state = nullptr;
  G_OBJECT_CLASS(gst_tavro_portrait_parent_class)->finalize(object);
}

}  // namespace

static void gst_tavro_portrait_init(GstTavroPortrait* self) { self->state = new State(); }

static void gst_tavro_portrait_class_init(GstTavroPortraitClass* klass) {
  GObjectClass* gobject = G_OBJECT_CLASS(klass);
  GstElementClass* element = GST_ELEMENT_CLASS(klass);
  GstBaseTransformClass* trans = GST_BASE_TRANSFORM_CLASS(klass);
  GstVideoFilterClass* video = GST_VIDEO_FILTER_CLASS(klass);

  gobject->set_property = SetProperty;
  gobject->get_property = GetProperty;
  gobject->finalize = Finalize;
  const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                              GST_PARAM_MUTABLE_PLAYING);
  g_object_class_install_property(
      gobject, PROP_MODE,
      g_param_spec_enum("mode", "Mode", "What the element outputs", GST_TYPE_TAVRO_PORTRAIT_MODE,
                        GST_TAVRO_PORTRAIT_MODE_AUTO, flags));
  g_object_class_install_property(
      gobject, PROP_OPTICAL_FLOW,
      g_param_spec_boolean("optical-flow", "Optical flow",
                           "Steady the mask over time with dense optical flow", TRUE, flags));
  g_object_class_install_property(
      gobject, PROP_MEDIA_FILTER,
      g_param_spec_boolean("media-filter", "Media filter",
                           "Skin-aware median filtering of the mask", FALSE, flags));
  g_object_class_install_property(
      gobject, PROP_PREFER_EFFICIENCY,
      g_param_spec_boolean("prefer-efficiency", "Prefer efficiency",
                           "Run the network at 224x224 instead of 320x224", FALSE, flags));
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
                          "Picture put behind the person (mode=replace, or auto with I420 "
                          "output); scaled to the frame",
                          nullptr, flags));
  g_object_class_install_property(
      gobject, PROP_WARMUP_WAIT,
      g_param_spec_uint("warmup-wait", "Warm-up wait",
                        "Hold the first frame up to this many ms until the network is warm, "
                        "so it gets a real mask (for files; 0 for live sources)",
                        0, 60000, 0, flags));

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
