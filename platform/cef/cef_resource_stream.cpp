#include "platform/cef/cef_resource_stream.h"

#include <climits>
#include <mutex>

#include "platform/cef/cef_gtk_internal.h"

namespace {

struct StreamState {
  // Taken by a read and by closing, which may come on different threads; GIO already keeps a
  // second read from starting while one runs.
  std::mutex lock;
  CefRefPtr<CefResourceHandler> handler;  // null once closed
  CefRefPtr<CefCallback> callback;
  bool ended = false;
};

}  // namespace

struct CefResourceStream {
  GInputStream parent;
  StreamState* state;
};

struct CefResourceStreamClass {
  GInputStreamClass parent_class;
};

G_DEFINE_TYPE(CefResourceStream, cef_resource_stream, G_TYPE_INPUT_STREAM)

namespace {

StreamState* StateOf(GInputStream* stream) {
  return reinterpret_cast<CefResourceStream*>(stream)->state;
}

gssize ReadFn(GInputStream* stream, void* buffer, gsize count, GCancellable* cancellable,
              GError** error) {
  if (g_cancellable_set_error_if_cancelled(cancellable, error)) return -1;
  StreamState* s = StateOf(stream);
  std::lock_guard<std::mutex> guard(s->lock);
  if (!s->handler) {
    g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_CLOSED, "The resource was released");
    return -1;
  }
  if (s->ended || count == 0) return 0;
  int want = count > static_cast<gsize>(INT_MAX) ? INT_MAX : static_cast<int>(count);
  int got = 0;
  bool more = false;
  try {
    more = s->handler->ReadResponse(buffer, want, got, s->callback);
  } catch (...) {
    // Nothing may unwind into GIO's worker; the body just fails here.
    s->ended = true;
    g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_FAILED, "The resource handler failed");
    return -1;
  }
  if (!more || got <= 0) {
    s->ended = true;
    return 0;
  }
  return got < want ? got : want;
}

// WebKit reads asynchronously. The read runs on the layer's IO thread, with the handler's other
// calls, rather than on GIO's shared pool, whose few threads a slow host would otherwise tie up
// for every other GIO user.
void ReadAsync(GInputStream* stream, void* buffer, gsize count, int priority,
               GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
  GTask* task = g_task_new(stream, cancellable, callback, data);
  g_task_set_priority(task, priority);
  cef_internal::PostToIo([task, buffer, count]() {
    GError* error = nullptr;
    gssize n = ReadFn(G_INPUT_STREAM(g_task_get_source_object(task)), buffer, count,
                      g_task_get_cancellable(task), &error);
    if (n < 0)
      g_task_return_error(task, error);
    else
      g_task_return_int(task, n);
    g_object_unref(task);
  });
}

gssize ReadFinish(GInputStream*, GAsyncResult* result, GError** error) {
  return g_task_propagate_int(G_TASK(result), error);
}

gboolean CloseFn(GInputStream* stream, GCancellable*, GError**) {
  StreamState* s = StateOf(stream);
  CefRefPtr<CefResourceHandler> handler;
  {
    std::lock_guard<std::mutex> guard(s->lock);
    handler = s->handler;
    s->handler = nullptr;
    s->callback = nullptr;
  }
  // Told on the IO thread, where the handler's other calls run; no read reaches it any more.
  if (handler && !s->ended) {
    cef_internal::PostToIo([handler]() {
      try {
        handler->Cancel();
      } catch (...) {
      }
    });
  }
  return TRUE;
}

void Finalize(GObject* object) {
  // GIO closes a stream that is disposed open, so the handler has gone by now.
  delete reinterpret_cast<CefResourceStream*>(object)->state;
  G_OBJECT_CLASS(cef_resource_stream_parent_class)->finalize(object);
}

}  // namespace

static void cef_resource_stream_class_init(CefResourceStreamClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = Finalize;
  G_INPUT_STREAM_CLASS(klass)->read_fn = ReadFn;
  G_INPUT_STREAM_CLASS(klass)->read_async = ReadAsync;
  G_INPUT_STREAM_CLASS(klass)->read_finish = ReadFinish;
  G_INPUT_STREAM_CLASS(klass)->close_fn = CloseFn;
}

static void cef_resource_stream_init(CefResourceStream* self) { self->state = new StreamState(); }

GInputStream* cef_internal::NewResourceStream(CefRefPtr<CefResourceHandler> handler,
                                              CefRefPtr<CefCallback> callback) {
  auto* stream =
      reinterpret_cast<CefResourceStream*>(g_object_new(cef_resource_stream_get_type(), nullptr));
  stream->state->handler = handler;
  stream->state->callback = callback;
  return G_INPUT_STREAM(stream);
}
