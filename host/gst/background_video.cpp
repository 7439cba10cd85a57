#include "host/gst/background_video.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <cstring>

bool BackgroundVideo::open(const std::string& path, int width, int height, std::string* error) {
  close();
  GstElement* pipeline = gst_pipeline_new("tavro-background");
  GstElement* src = gst_element_factory_make("filesrc", nullptr);
  GstElement* decode = gst_element_factory_make("decodebin", nullptr);
  GstElement* convert = gst_element_factory_make("videoconvert", nullptr);
  GstElement* scale = gst_element_factory_make("videoscale", nullptr);
  GstElement* sink = gst_element_factory_make("appsink", nullptr);
  if (!pipeline || !src || !decode || !convert || !scale || !sink) {
    for (GstElement* e : {pipeline, src, decode, convert, scale, sink})
      if (e) gst_object_unref(e);
    *error = "the GStreamer elements for a background video are missing";
    return false;
  }
  g_object_set(src, "location", path.c_str(), nullptr);
  GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", "width",
                                      G_TYPE_INT, width, "height", G_TYPE_INT, height,
                                      "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
  g_object_set(sink, "caps", caps, "sync", FALSE, "max-buffers", 2, "drop", FALSE, nullptr);
  gst_caps_unref(caps);
  gst_bin_add_many(GST_BIN(pipeline), src, decode, convert, scale, sink, nullptr);
  gst_element_link(src, decode);
  gst_element_link_many(convert, scale, sink, nullptr);
  // decodebin's video pad appears once it knows the stream.
  g_signal_connect(decode, "pad-added", G_CALLBACK(+[](GstElement*, GstPad* pad, gpointer next) {
                     GstCaps* c = gst_pad_get_current_caps(pad);
                     const bool video = c && std::strncmp(gst_structure_get_name(
                                                              gst_caps_get_structure(c, 0)),
                                                          "video/", 6) == 0;
                     if (c) gst_caps_unref(c);
                     GstPad* sinkPad = gst_element_get_static_pad(GST_ELEMENT(next), "sink");
                     if (video && !gst_pad_is_linked(sinkPad)) gst_pad_link(pad, sinkPad);
                     gst_object_unref(sinkPad);
                   }),
                   convert);
  pipeline_ = pipeline;
  sink_ = sink;
  path_ = path;
  width_ = width;
  height_ = height;
  if (gst_element_set_state(pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE ||
      gst_element_get_state(pipeline, nullptr, nullptr, 5 * GST_SECOND) !=
          GST_STATE_CHANGE_SUCCESS ||
      gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    *error = "cannot play " + path + " as a video";
    close();
    path_ = path;
    return false;
  }
  return true;
}

bool BackgroundVideo::next(cv::Mat* bgr, std::string* error) {
  if (!sink_) return false;
  GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink_), GST_SECOND);
  if (!sample && gst_app_sink_is_eos(GST_APP_SINK(sink_))) {
    // From the start again.
    gst_element_seek_simple(pipeline_, GST_FORMAT_TIME,
                            GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT), 0);
    sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink_), GST_SECOND);
  }
  if (!sample) {
    *error = "no picture from the background video " + path_;
    return false;
  }
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  GstVideoInfo info;
  GstMapInfo map;
  const bool ok = gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
                  gst_buffer_map(buffer, &map, GST_MAP_READ);
  if (ok) {
    cv::Mat(height_, width_, CV_8UC3, map.data, GST_VIDEO_INFO_PLANE_STRIDE(&info, 0))
        .copyTo(*bgr);
    gst_buffer_unmap(buffer, &map);
  } else {
    *error = "an unreadable picture from the background video " + path_;
  }
  gst_sample_unref(sample);
  return ok;
}

void BackgroundVideo::close() {
  if (pipeline_) {
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    gst_object_unref(pipeline_);
  }
  pipeline_ = sink_ = nullptr;
  path_.clear();
}
