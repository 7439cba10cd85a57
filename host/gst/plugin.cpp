// The GStreamer plugin "tavroportrait" with its one element.
#include "host/gst/tavro_portrait.h"

#ifndef PACKAGE
#define PACKAGE "tavroportrait"
#endif

static gboolean plugin_init(GstPlugin* plugin) { return gst_tavro_portrait_register(plugin); }

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, tavroportrait,
                  "Portrait segmentation: background blur, replacement, alpha and mask",
                  plugin_init, "1.0", "Proprietary", "tavro", "https://tavro.invalid")
