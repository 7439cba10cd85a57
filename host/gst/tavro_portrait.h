// tavroportrait: a GStreamer video filter that hosts the segmentation module.
// It takes I420, NV12 or YUY2 frames and gives, as negotiated or forced by
// "mode":
//   the input's format: the frame with its background blurred (blur, or
//         the module's own bokeh) or replaced by a colour or a picture,
//   A420  the frame unchanged plus the person mask as its alpha plane,
//   GRAY8 the person mask alone (255 = person).
#pragma once

#include <gst/gst.h>
#include <gst/video/gstvideofilter.h>
#include <gst/video/video.h>

G_BEGIN_DECLS

#define GST_TYPE_TAVRO_PORTRAIT (gst_tavro_portrait_get_type())
G_DECLARE_FINAL_TYPE(GstTavroPortrait, gst_tavro_portrait, GST, TAVRO_PORTRAIT,
                     GstVideoFilter)

typedef enum {
  GST_TAVRO_PORTRAIT_MODE_AUTO,
  GST_TAVRO_PORTRAIT_MODE_MASK,
  GST_TAVRO_PORTRAIT_MODE_ALPHA,
  GST_TAVRO_PORTRAIT_MODE_BOKEH,
  GST_TAVRO_PORTRAIT_MODE_REPLACE,
  GST_TAVRO_PORTRAIT_MODE_BLUR,
} GstTavroPortraitMode;

#define GST_TYPE_TAVRO_PORTRAIT_MODE (gst_tavro_portrait_mode_get_type())
GType gst_tavro_portrait_mode_get_type(void);

// Registers the element with plugin (null: the application's own registry,
// as tests do).
gboolean gst_tavro_portrait_register(GstPlugin* plugin);

G_END_DECLS
