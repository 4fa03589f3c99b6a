// The video player's library, loaded when the first player is made rather than before the
// program starts. It and the libraries it needs are over two hundred files, and loading them
// takes longer than the rest of the start-up before the window; loaded this late, the rest of
// the start (the reading of a teacher's photos on the other core above all) is not held up
// behind it. The functions the kit calls are defined here and pass each call on.

#include <mpv/client.h>
#include <mpv/render.h>

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>

static_assert(MPV_CLIENT_API_VERSION >> 16 == 2, "the library's name below is that of API 2");

namespace {

void *library()
{
    static void *handle = nullptr;
    static std::once_flag loaded;
    std::call_once(loaded, [] { handle = ::dlopen("libmpv.so.2", RTLD_LAZY | RTLD_LOCAL); });
    return handle;
}

// The library's function `name`, or null when the library or the function is missing.
void *find(const char *name)
{
    void *lib = library();
    return lib ? ::dlsym(lib, name) : nullptr;
}

// A function used only after a player was made, which needs the library: missing, it is a
// broken installation, where going on could only do harm.
void *need(const char *name)
{
    void *f = find(name);
    if (!f) {
        std::fprintf(stderr, "libmpv.so.2: %s saknas (installera om paketet libmpv2)\n", name);
        std::abort();
    }
    return f;
}

} // namespace

#define PASS_ON(result, name, parameters, arguments)                                               \
    extern "C" result name parameters                                                              \
    {                                                                                              \
        static const auto f = reinterpret_cast<decltype(&name)>(need(#name));                      \
        return f arguments;                                                                        \
    }

// Without the library no player can be made: that is reported as any failed start of one.
extern "C" mpv_handle *mpv_create(void)
{
    static const auto f = reinterpret_cast<decltype(&mpv_create)>(find("mpv_create"));
    return f ? f() : nullptr;
}

PASS_ON(int, mpv_initialize, (mpv_handle * ctx), (ctx))
PASS_ON(void, mpv_terminate_destroy, (mpv_handle * ctx), (ctx))
PASS_ON(int, mpv_set_option_string, (mpv_handle * ctx, const char *name, const char *data),
        (ctx, name, data))
PASS_ON(int, mpv_set_property_string, (mpv_handle * ctx, const char *name, const char *data),
        (ctx, name, data))
PASS_ON(int, mpv_set_property_async,
        (mpv_handle * ctx, uint64_t reply, const char *name, mpv_format format, void *data),
        (ctx, reply, name, format, data))
PASS_ON(int, mpv_get_property, (mpv_handle * ctx, const char *name, mpv_format format, void *data),
        (ctx, name, format, data))
PASS_ON(int, mpv_get_property_async,
        (mpv_handle * ctx, uint64_t reply, const char *name, mpv_format format),
        (ctx, reply, name, format))
PASS_ON(int, mpv_observe_property,
        (mpv_handle * mpv, uint64_t reply, const char *name, mpv_format format),
        (mpv, reply, name, format))
PASS_ON(int, mpv_command_async, (mpv_handle * ctx, uint64_t reply, const char **args),
        (ctx, reply, args))
PASS_ON(mpv_event *, mpv_wait_event, (mpv_handle * ctx, double timeout), (ctx, timeout))
PASS_ON(void, mpv_set_wakeup_callback, (mpv_handle * ctx, void (*cb)(void *d), void *d),
        (ctx, cb, d))
PASS_ON(int, mpv_request_log_messages, (mpv_handle * ctx, const char *min_level), (ctx, min_level))
PASS_ON(int, mpv_hook_add, (mpv_handle * ctx, uint64_t reply, const char *name, int priority),
        (ctx, reply, name, priority))
PASS_ON(int, mpv_hook_continue, (mpv_handle * ctx, uint64_t id), (ctx, id))
PASS_ON(void, mpv_free_node_contents, (mpv_node * node), (node))
PASS_ON(int, mpv_render_context_create,
        (mpv_render_context * *res, mpv_handle *mpv, mpv_render_param *params), (res, mpv, params))
PASS_ON(void, mpv_render_context_set_update_callback,
        (mpv_render_context * ctx, mpv_render_update_fn callback, void *callback_ctx),
        (ctx, callback, callback_ctx))
PASS_ON(uint64_t, mpv_render_context_update, (mpv_render_context * ctx), (ctx))
PASS_ON(int, mpv_render_context_render, (mpv_render_context * ctx, mpv_render_param *params),
        (ctx, params))
PASS_ON(void, mpv_render_context_free, (mpv_render_context * ctx), (ctx))
