#pragma once

#include <gst/gst.h>
#include <memory>

// Owners of GStreamer and GLib references, so that every reference taken is
// released on every path.

struct TGstObjectUnref
{
    void operator()(gpointer object) const { gst_object_unref(object); }
};
using TElementPtr = std::unique_ptr<GstElement, TGstObjectUnref>;
using TBusPtr = std::unique_ptr<GstBus, TGstObjectUnref>;
using TPadPtr = std::unique_ptr<GstPad, TGstObjectUnref>;

struct TMessageUnref
{
    void operator()(GstMessage* message) const { gst_message_unref(message); }
};
using TMessagePtr = std::unique_ptr<GstMessage, TMessageUnref>;

struct TTagListUnref
{
    void operator()(GstTagList* list) const { gst_tag_list_unref(list); }
};
using TTagListPtr = std::unique_ptr<GstTagList, TTagListUnref>;

struct TErrorFree
{
    void operator()(GError* error) const { g_error_free(error); }
};
using TErrorPtr = std::unique_ptr<GError, TErrorFree>;

struct TGFree
{
    void operator()(gpointer memory) const { g_free(memory); }
};
using TGCharPtr = std::unique_ptr<gchar, TGFree>;
